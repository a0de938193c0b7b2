// The simulated reader's own state: identity, modes, registers, EEPROM.
#pragma once

#include "tag.h"

#include <array>
#include <map>
#include <string>

namespace qx4sim {

struct ReaderRegisters {
    static constexpr size_t kEepromBytes = 512; // 256 words

    std::string romVersion = "QX4SIM Ver1.00";
    std::string modelName = "QX4-SIM";
    uint8_t mode = 0; // 0 command, 1 auto-scan, 2 trigger, 3 polling, 0x50 continuous
    uint8_t second = 0;
    uint8_t flags = 0x78;
    uint8_t valueHigh = 0;
    uint8_t valueLow = 10;
    uint8_t tagMode = 0x54;
    uint8_t powerDown = 0;
    uint8_t errorStatus = 0;
    std::array<uint8_t, 3> led{};
    std::array<uint8_t, 2> buzzer{};
    uint8_t ioInput = 0x5A;
    std::array<uint8_t, 2> ioOutput{};
    Uid uidRegister{};
    std::vector<Uid> uidList;
    uint8_t afiRegister = 0;
    Bytes tagData;
    bool carrier = true; // a powered reader radiates until told otherwise
    unsigned restarts = 0;
    std::map<uint8_t, uint8_t> parameters;
    std::array<uint8_t, kEepromBytes> eeprom{};
    std::string eepromFile;                // empty: EEPROM lives only as long as the simulator
    size_t eepromWords = kEepromBytes / 2; // what the reader has, from word 0
    int eepromRefusal = -1;                // NACK code for words beyond eepromWords; 0: no answer
    bool strictValues = false;             // NACK values out of range rather than taking them

    ReaderRegisters();
    void InitEeprom(); // factory contents
    void LoadEeprom(); // from eepromFile when it exists
    void SaveEeprom() const;
    void LoadModesFromEeprom(); // what a restart does
    void StoreModesInEeprom();
    void StoreTagModeInEeprom();
    uint16_t Word(size_t address) const;
};

// Carries out a 0x4F, 0x4E, 0x42 or 0x4A command. The reply frame's data
// (type and data): ACK with the echo, or NACK; type 0: no answer at all.
struct ReaderAnswer {
    uint8_t type;
    Bytes data;
};
ReaderAnswer ExecuteReaderCommand(ReaderRegisters& reader, uint8_t command, const Bytes& data);

} // namespace qx4sim
