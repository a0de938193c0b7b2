#include "command_table.h"

#include <array>

namespace qx4cli {
namespace {

constexpr std::array kCommands{
    CommandInfo{"version", RunVersion, "", "reader ROM version", "qx4 version"},
    CommandInfo{"model", RunModel, "", "reader model name", "qx4 model"},
    CommandInfo{"restart", RunRestart, "", "restart the reader (no answer awaited)", "qx4 restart"},
    CommandInfo{"carrier", RunCarrier, "on|off", "switch the RF carrier", "qx4 carrier on"},
    CommandInfo{"power-down", RunPowerDown, "", "put the reader into power-down", "qx4 power-down"},
    CommandInfo{"power-state", RunPowerState, "", "read the power-down state", "qx4 power-state"},
    CommandInfo{"error-status", RunErrorStatus, "", "read the reader's error status",
                "qx4 error-status"},
    CommandInfo{"led", RunLed, "FIRST SECOND THIRD", "LED control bytes", "qx4 led 1 0 0"},
    CommandInfo{"buzzer", RunBuzzer, "FIRST SECOND",
                "sound the buzzer (SECOND 0: no answer awaited)", "qx4 buzzer 5 1"},
    CommandInfo{"io-read", RunIoRead, "", "read the I/O port", "qx4 io-read"},
    CommandInfo{"io-write", RunIoWrite, "FIRST SECOND", "write the I/O port", "qx4 io-write 1 0"},
    CommandInfo{"simple-read", RunSimpleRead, "", "simple read (a data notification answers)",
                "qx4 simple-read"},
    CommandInfo{"op-mode", RunOpMode, "[MODE SECOND FLAGS VALUE [eeprom]]",
                "read or set the operation mode", "qx4 op-mode 1 0 0x78 10"},
    CommandInfo{"tag-mode", RunTagMode, "[VALUE [eeprom]]", "read or set the tag mode byte",
                "qx4 tag-mode 0x54"},
    CommandInfo{"eeprom-read", RunEepromRead, "ADDRESS [COUNT]", "read EEPROM words",
                "qx4 eeprom-read 12 8"},
    CommandInfo{"eeprom-write", RunEepromWrite, "ADDRESS HEXBYTES",
                "write EEPROM words (2 bytes a word, low byte first)", "qx4 eeprom-write 12 0512"},
    CommandInfo{"eeprom-init", RunEepromInit, "", "initialise the EEPROM", "qx4 eeprom-init"},
    CommandInfo{"param-read", RunParamRead, "NUMBER", "read a reader parameter",
                "qx4 param-read 3"},
    CommandInfo{"param-write", RunParamWrite, "NUMBER VALUE", "write a reader parameter",
                "qx4 param-write 3 7"},
    CommandInfo{"uid-register", RunUidRegister, "[UID]", "read or set the reader's UID register",
                "qx4 uid-register E004010012345678"},
    CommandInfo{"uid-list", RunUidList, "", "the UIDs the reader has collected", "qx4 uid-list"},
    CommandInfo{"afi-register", RunAfiRegister, "[VALUE]", "read or set the reader's AFI register",
                "qx4 afi-register 0x42"},
    CommandInfo{"tag-data", RunTagData, "TEXT", "send tag data to the reader (command 0x4A)",
                "qx4 tag-data hello"},
    CommandInfo{"inventory", RunInventory, "", "one answering tag: DSFID and UID", "qx4 inventory"},
    CommandInfo{"scan", RunScan, "", "reader-side inventory, then every UID it collected",
                "qx4 scan"},
    CommandInfo{"quiet", RunQuiet, "UID", "stay quiet", "qx4 quiet E004010012345678"},
    CommandInfo{"select", RunSelect, "UID", "select a tag", "qx4 select E004010012345678"},
    CommandInfo{"reset", RunReset, "", "reset to ready", "qx4 reset --uid E004010012345678"},
    CommandInfo{"read", RunRead, "BLOCK [COUNT]", "read blocks", "qx4 read 0 4 --option"},
    CommandInfo{"write", RunWrite, "BLOCK HEXBYTES", "write blocks (whole blocks of data)",
                "qx4 write 3 11223344"},
    CommandInfo{"lock", RunLock, "BLOCK", "lock a block for good", "qx4 lock 3"},
    CommandInfo{"write2", RunWrite2, "BLOCK HEXBYTES", "write two blocks (custom 0xA2)",
                "qx4 write2 4 0102030405060708"},
    CommandInfo{"lock2", RunLock2, "BLOCK", "lock two blocks (custom 0xA3)", "qx4 lock2 4"},
    CommandInfo{"read-bytes", RunReadBytes, "BLOCK COUNT", "read COUNT bytes from a block start",
                "qx4 read-bytes 1 6"},
    CommandInfo{"write-bytes", RunWriteBytes, "BLOCK HEXBYTES", "write bytes from a block start",
                "qx4 write-bytes 1 AABB"},
    CommandInfo{"security", RunSecurity, "BLOCK COUNT", "block security status bytes",
                "qx4 security 0 8"},
    CommandInfo{"write-afi", RunWriteAfi, "VALUE", "write the tag's AFI", "qx4 write-afi 0x12"},
    CommandInfo{"lock-afi", RunLockAfi, "", "lock the tag's AFI for good", "qx4 lock-afi"},
    CommandInfo{"write-dsfid", RunWriteDsfid, "VALUE", "write the tag's DSFID",
                "qx4 write-dsfid 0x34"},
    CommandInfo{"lock-dsfid", RunLockDsfid, "", "lock the tag's DSFID for good", "qx4 lock-dsfid"},
    CommandInfo{"info", RunInfo, "", "system information, decoded", "qx4 info --addressed"},
    CommandInfo{"myd-read", RunMydRead, "BLOCK", "read a my-d block", "qx4 myd-read 2"},
    CommandInfo{"myd-write", RunMydWrite, "BLOCK HEXBYTES", "write a my-d block",
                "qx4 myd-write 2 0102030405060708"},
    CommandInfo{"myd-write-byte", RunMydWriteByte, "BLOCK BYTE1 BYTE2", "my-d byte write",
                "qx4 myd-write-byte 2 5 0xAA"},
    CommandInfo{"myd-write-reread", RunMydWriteReread, "BLOCK HEXBYTES",
                "write a my-d block and read it back", "qx4 myd-write-reread 2 0102030405060708"},
    CommandInfo{"dump", RunDump, "FILE", "system information and every block into a JSON dump",
                "qx4 dump tag.json"},
    CommandInfo{"restore", RunRestore, "FILE [--skip-same]",
                "write the blocks of a dump back (locked blocks are skipped)",
                "qx4 restore tag.json --skip-same"},
    CommandInfo{"diff", RunDiff, "FILE", "compare a dump with the tag", "qx4 diff tag.json"},
    CommandInfo{"watch", RunWatch, "[SECONDS]",
                "auto-scan: print each notification until interrupted", "qx4 watch 10"},
    CommandInfo{"demo", RunDemo, "", "a short session: identity, carrier, EEPROM, tags",
                "qx4 --simulate demo"},
};

} // namespace

std::span<const CommandInfo> Commands() {
    return kCommands;
}

const CommandInfo* FindCommand(const std::string& name) {
    for (const CommandInfo& command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

} // namespace qx4cli
