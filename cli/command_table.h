// The subcommands of qx4, declared once as data; usage and help come from this table.
#pragma once

#include "session.h"

#include <span>

namespace qx4cli {

struct CommandInfo {
    const char* name;
    void (*run)(Session& session);
    const char* arguments;
    const char* help;
    const char* example;
    int minArgs = 0, maxArgs = 0;
    const char* options = ""; // the command's own options, blank-separated
};

// Options of single commands: name, whether it takes a value, help.
struct CommandOption {
    const char* name;
    bool takesValue;
    const char* help;
};
std::span<const CommandOption> CommandOptions();

// Connection and request options, for every command, anywhere on the line.
struct GlobalOption {
    const char* name;
    const char* value; // its placeholder, or "" for a flag
    const char* help;
};
std::span<const GlobalOption> GlobalOptions();

std::span<const CommandInfo> Commands();
const CommandInfo* FindCommand(const std::string& name);

// Whether the command option `name` (such as "--yes") is on the line.
bool Given(const Session& s, const char* name);
// The one tag that a write or lock goes to: --uid, else the only tag in the field (also
// with --unaddressed, which then sends without its UID). Several tags: Refusal listing
// them. `name`: the result names it as "uid" (absent when unaddressed and unknown).
std::optional<Uid> OneTag(Session& s, bool name = true);
// The tag access for writes and locks: one tag, the option flag as asked.
qx4dump::TagAccess& WriteAccess(Session& s);
// A lock cannot be undone: asks on a terminal where the options allow it, else needs
// --yes (Refusal naming options().confirmWith).
void ConfirmLock(Session& s, const std::string& what);

// Handlers, by family.
void RunVersion(Session&);
void RunModel(Session&);
void RunRestart(Session&);
void RunCarrier(Session&);
void RunPowerDown(Session&);
void RunPowerState(Session&);
void RunErrorStatus(Session&);
void RunLed(Session&);
void RunBuzzer(Session&);
void RunIoRead(Session&);
void RunIoWrite(Session&);
void RunSimpleRead(Session&);
void RunOpMode(Session&);
void RunTagMode(Session&);
void RunEepromRead(Session&);
void RunEepromWrite(Session&);
void RunEepromInit(Session&);
void RunParamRead(Session&);
void RunParamWrite(Session&);
void RunUidRegister(Session&);
void RunUidList(Session&);
void RunAfiRegister(Session&);
void RunTagData(Session&);

void RunInventory(Session&);
void RunScan(Session&);
void RunQuiet(Session&);
void RunSelect(Session&);
void RunReset(Session&);
void RunRead(Session&);
void RunWrite(Session&);
void RunLock(Session&);
void RunWrite2(Session&);
void RunLock2(Session&);
void RunReadBytes(Session&);
void RunWriteBytes(Session&);
void RunSecurity(Session&);
void RunWriteAfi(Session&);
void RunLockAfi(Session&);
void RunWriteDsfid(Session&);
void RunLockDsfid(Session&);
void RunInfo(Session&);
void RunNdefRead(Session&);
void RunNdefWrite(Session&);
void RunNdefFormat(Session&);
void RunNdefErase(Session&);
void RunNdefProtect(Session&);
void RunMydRead(Session&);
void RunMydWrite(Session&);
void RunMydWriteByte(Session&);
void RunMydWriteReread(Session&);

void RunDump(Session&);
void RunRestore(Session&);
void RunDiff(Session&);
void RunWatch(Session&);
void RunDemo(Session&);
void RunRaw(Session&);
void RunView(Session&);
void RunCompletion(Session&);
void RunConvert(Session&);
void RunFindAfi(Session&);
void RunProbe(Session&);

} // namespace qx4cli
