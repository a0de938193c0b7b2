#include "command_table.h"

#include <array>

namespace qx4cli {
namespace {

using C = CommandInfo;

constexpr std::array kCommands{
    C{"version", RunVersion, "", "reader ROM version", "qx4 version"},
    C{"model", RunModel, "", "reader model name", "qx4 model"},
    C{"restart", RunRestart, "", "restart the reader (no answer awaited)", "qx4 restart"},
    C{"carrier", RunCarrier, "on|off", "switch the RF carrier", "qx4 carrier on", 1, 1},
    C{"power-down", RunPowerDown, "", "put the reader into power-down", "qx4 power-down"},
    C{"power-state", RunPowerState, "", "read the power-down state", "qx4 power-state"},
    C{"error-status", RunErrorStatus, "", "read the reader's error status", "qx4 error-status"},
    C{"led", RunLed, "FIRST SECOND THIRD", "LED control bytes", "qx4 led 1 0 0", 3, 3},
    C{"buzzer", RunBuzzer, "FIRST SECOND", "sound the buzzer (SECOND 0: no answer awaited)",
      "qx4 buzzer 5 1", 2, 2},
    C{"io-read", RunIoRead, "", "read the I/O port", "qx4 io-read"},
    C{"io-write", RunIoWrite, "FIRST SECOND", "write the I/O port", "qx4 io-write 1 0", 2, 2},
    C{"simple-read", RunSimpleRead, "", "simple read (a data notification answers)",
      "qx4 simple-read"},
    C{"op-mode", RunOpMode, "[MODE SECOND FLAGS VALUE [eeprom]]", "read or set the operation mode",
      "qx4 op-mode 1 0 0x78 10", 0, 5},
    C{"tag-mode", RunTagMode, "[VALUE [eeprom]]", "read or set the tag mode byte",
      "qx4 tag-mode 0x54", 0, 2},
    C{"eeprom-read", RunEepromRead, "ADDRESS [COUNT]", "read EEPROM words", "qx4 eeprom-read 12 8",
      1, 2},
    C{"eeprom-write", RunEepromWrite, "ADDRESS HEXBYTES",
      "write EEPROM words (2 bytes a word, low byte first)", "qx4 eeprom-write 12 0512", 2, 2},
    C{"eeprom-init", RunEepromInit, "", "initialise the EEPROM", "qx4 eeprom-init"},
    C{"param-read", RunParamRead, "NUMBER", "read a reader parameter", "qx4 param-read 3", 1, 1},
    C{"param-write", RunParamWrite, "NUMBER VALUE", "write a reader parameter",
      "qx4 param-write 3 7", 2, 2},
    C{"uid-register", RunUidRegister, "[UID]", "read or set the reader's UID register",
      "qx4 uid-register E004010012345678", 0, 1},
    C{"uid-list", RunUidList, "", "the UIDs the reader has collected", "qx4 uid-list"},
    C{"afi-register", RunAfiRegister, "[VALUE]", "read or set the reader's AFI register",
      "qx4 afi-register 0x42", 0, 1},
    C{"tag-data", RunTagData, "TEXT", "the reader writes TEXT into the one tag in the field (0x4A)",
      "qx4 tag-data hello", 1, 1},
    C{"inventory", RunInventory, "", "one answering tag: DSFID and UID", "qx4 inventory"},
    C{"scan", RunScan, "", "reader-side inventory, then every UID it collected", "qx4 scan"},
    C{"findafi", RunFindAfi, "", "every tag of each AFI value (found tags stay quiet, then reset)",
      "qx4 findafi"},
    C{"quiet", RunQuiet, "UID", "stay quiet", "qx4 quiet E004010012345678", 1, 1},
    C{"select", RunSelect, "UID",
      "select a tag, for raw requests in selected mode (UID designation 3)",
      "qx4 select E004010012345678; qx4 raw 2B03", 1, 1},
    C{"reset", RunReset, "", "reset to ready", "qx4 reset --uid E004010012345678"},
    C{"read", RunRead, "BLOCK [COUNT]", "read blocks (as many frames as it takes)",
      "qx4 read 0 28 --option", 1, 2},
    C{"write", RunWrite, "BLOCK HEXBYTES", "write whole blocks from BLOCK on",
      "qx4 write 3 11223344", 2, 2},
    C{"lock", RunLock, "BLOCK", "lock a block for good (asks, or --yes)", "qx4 lock 3 --yes", 1, 1,
      "--yes"},
    C{"write2", RunWrite2, "BLOCK HEXBYTES", "write two blocks (custom 0xA2)",
      "qx4 write2 4 0102030405060708", 2, 2},
    C{"lock2", RunLock2, "BLOCK", "lock two blocks (custom 0xA3; asks, or --yes)",
      "qx4 lock2 4 --yes", 1, 1, "--yes"},
    C{"read-bytes", RunReadBytes, "BLOCK COUNT", "read COUNT bytes from a block start",
      "qx4 read-bytes 1 6", 2, 2},
    C{"write-bytes", RunWriteBytes, "BLOCK HEXBYTES", "write bytes from a block start",
      "qx4 write-bytes 1 AABB", 2, 2},
    C{"security", RunSecurity, "BLOCK COUNT", "block security status bytes", "qx4 security 0 8", 2,
      2},
    C{"write-afi", RunWriteAfi, "VALUE", "write the tag's AFI", "qx4 write-afi 0x12", 1, 1},
    C{"lock-afi", RunLockAfi, "", "lock the tag's AFI for good (asks, or --yes)",
      "qx4 lock-afi --yes", 0, 0, "--yes"},
    C{"write-dsfid", RunWriteDsfid, "VALUE", "write the tag's DSFID", "qx4 write-dsfid 0x34", 1, 1},
    C{"lock-dsfid", RunLockDsfid, "", "lock the tag's DSFID for good (asks, or --yes)",
      "qx4 lock-dsfid --yes", 0, 0, "--yes"},
    C{"info", RunInfo, "", "system information, decoded", "qx4 info"},
    C{"ndef-read", RunNdefRead, "", "the tag's NDEF message, one line a record (qx4 ndef read)",
      "qx4 ndef read"},
    C{"ndef-write", RunNdefWrite, "",
      "write an NDEF message of the records given, in order (qx4 ndef write)",
      "qx4 ndef write --uri https://example.com --text hello --lang en", 0, 0,
      "--uri --text --lang --mime --message"},
    C{"ndef-format", RunNdefFormat, "",
      "a capability container for the tag's memory and an empty message (asks, or --yes)",
      "qx4 ndef format --yes", 0, 0, "--yes"},
    C{"ndef-erase", RunNdefErase, "", "leave an empty NDEF message", "qx4 ndef erase"},
    C{"ndef-protect", RunNdefProtect, "",
      "make the NDEF read-only and lock its blocks for good (asks, or --yes)",
      "qx4 ndef protect --yes", 0, 0, "--yes"},
    C{"myd-read", RunMydRead, "BLOCK", "read a my-d block", "qx4 myd-read 2", 1, 1},
    C{"myd-write", RunMydWrite, "BLOCK HEXBYTES", "write one whole my-d block",
      "qx4 myd-write 2 0102030405060708", 2, 2},
    C{"myd-write-byte", RunMydWriteByte, "BLOCK BYTE1 BYTE2", "my-d byte write",
      "qx4 myd-write-byte 2 5 0xAA", 3, 3},
    C{"myd-write-reread", RunMydWriteReread, "BLOCK HEXBYTES",
      "write a my-d block and read it back", "qx4 myd-write-reread 2 0102030405060708", 2, 2},
    C{"raw", RunRaw, "HEXBYTES",
      "one 0x78 request: ISO 15693 code, parameters, mode byte (and UID when addressed)",
      "qx4 raw 2B00", 1, 1},
    C{"dump", RunDump, "FILE|-", "the tag's system information, AFI, DSFID and every block",
      "qx4 dump tag.json", 1, 1, "--format --force --probe-locks --no-probe"},
    C{"restore", RunRestore, "FILE",
      "write the blocks of a dump that differ, read them back (locks only with --locks)",
      "qx4 restore tag.json", 1, 1, "--all --force --locks --skip-same --yes"},
    C{"diff", RunDiff, "FILE", "compare a dump with the tag (exit 1 when they differ)",
      "qx4 diff tag.json", 1, 1, "--probe-locks --no-probe"},
    C{"view", RunView, "FILE", "show a dump of any format, without a reader", "qx4 view tag.nfc", 1,
      1},
    C{"convert", RunConvert, "IN OUT", "convert a dump between formats (--format, or OUT's name)",
      "qx4 convert tag.json tag.nfc", 2, 2, "--format"},
    C{"watch", RunWatch, "[SECONDS]", "auto-scan: print each notification until interrupted",
      "qx4 watch 10 --events", 0, 1, "--events --leave-after"},
    C{"probe", RunProbe, "",
      "read-only survey of the reader and the tags in its field, for bring-up and bug reports",
      "qx4 --json probe > probe.json"},
    C{"completion", RunCompletion, "bash", "the shell completion script for qx4",
      "source <(qx4 completion bash)", 1, 1},
    C{"demo", RunDemo, "",
      "a short session: identity, carrier, EEPROM, tags (writes block 2 only when simulated "
      "or with --write)",
      "qx4 --simulate demo", 0, 0, "--write"},
};

constexpr std::array kCommandOptions{
    CommandOption{"--all", false, "restore: write every block, equal or not"},
    CommandOption{"--force", false,
                  "restore: onto a tag of another UID or block count (never another block "
                  "size); dump: replace an existing FILE"},
    CommandOption{"--locks", false, "restore: apply the dump's locks once every block is right"},
    CommandOption{"--skip-same", false, "restore: accepted for old scripts (the default now)"},
    CommandOption{"--format", true,
                  "dump, convert: qx4, proxmark or flipper (default: flipper for a .nfc name, "
                  "else qx4)"},
    CommandOption{"--probe-locks", false,
                  "dump, diff: find the AFI/DSFID locks by writing their values back (without "
                  "it they are unknown and nothing is written)"},
    CommandOption{"--no-probe", false, "dump, diff: accepted for old scripts (the default now)"},
    CommandOption{"--yes", false,
                  "locks, restore --locks, ndef format and protect, EEPROM and parameter "
                  "writes, modes stored in the EEPROM: go ahead without asking"},
    CommandOption{"--uri", true, "ndef write: a URI record"},
    CommandOption{"--text", true, "ndef write: a text record (UTF-8)"},
    CommandOption{"--lang", true, "ndef write: the language of the --text before it (en)"},
    CommandOption{"--mime", true, "ndef write: --mime TYPE FILE, a media record of FILE's bytes"},
    CommandOption{"--message", true, "ndef write: the records of FILE, a raw NDEF message"},
    CommandOption{"--write", false, "demo: write block 2 on a real reader's tag too"},
    CommandOption{"--events", false, "watch: a line when a tag enters or leaves the field"},
    CommandOption{"--leave-after", true,
                  "watch --events: MS unseen before a tag counts as gone (default: three of "
                  "the reader's scan periods, as the notifications show them)"},
};

constexpr std::array kGlobalOptions{
    GlobalOption{"--port", "N", "COM number (default 3)"},
    GlobalOption{"--device", "PATH|URL",
                 "device path, rfc2217://HOST:PORT or tcp://HOST:PORT for that COM number"},
    GlobalOption{"--slow", "", "9600 baud instead of 19200"},
    GlobalOption{"--timeout", "MS", "response time-out (default 2000)"},
    GlobalOption{"--simulate", "", "use a simulated reader in this process"},
    GlobalOption{"--field", "FILE", "with --simulate: the tags in the field, from a dump"},
    GlobalOption{"--state", "FILE",
                 "with --simulate: load the field from FILE when it exists, save it back after"},
    GlobalOption{"--uid", "UID", "the tag to address (16 hex digits, most significant first)"},
    GlobalOption{"--unaddressed", "", "send tag commands without a UID (tags without addressing)"},
    GlobalOption{"--option", "",
                 "set the ISO 15693 option flag on reads (adding the security status), writes "
                 "and locks, restore included"},
    GlobalOption{"--block-size", "N", "block size in bytes, instead of the tag's"},
    GlobalOption{"--blocks", "N", "block count, instead of the tag's"},
    GlobalOption{"--trace", "", "print every frame, decoded, on standard error"},
    GlobalOption{"--json", "", "print exactly one JSON object, also on failure"},
    GlobalOption{"--version", "", "the versions of qx4 and of the library"},
};

} // namespace

std::span<const GlobalOption> GlobalOptions() {
    return kGlobalOptions;
}

std::span<const CommandInfo> Commands() {
    return kCommands;
}

std::span<const CommandOption> CommandOptions() {
    return kCommandOptions;
}

const CommandInfo* FindCommand(const std::string& name) {
    for (const CommandInfo& command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

} // namespace qx4cli
