#include "reader_registers.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>

namespace qx4sim {
namespace {

// Where the modes live in the EEPROM, in bytes.
constexpr size_t kModeBytes = 0;   // mode, second, flags, 0, value high, value low
constexpr size_t kTagModeByte = 6; // word 3, low byte
constexpr uint8_t kFirstParameter = 0x01;
constexpr uint8_t kLastParameter = 0x3F;

ReaderAnswer Ack(uint8_t echo, Bytes values = {}) {
    values.insert(values.begin(), echo);
    return {kAck, std::move(values)};
}
ReaderAnswer Nack(uint8_t code) {
    return {kNack, {code}};
}

struct Shape {
    uint8_t command;
    uint8_t sub;
    size_t count; // data bytes including the sub-command
};
// Requests of fixed size; EEPROM writes and the tag-data write are sized by their content.
constexpr Shape kShapes[] = {
    {0x4F, 0x00, 1}, {0x4F, 0x09, 1}, {0x4F, 0x50, 1}, {0x4F, 0x51, 1}, {0x4F, 0x52, 1},
    {0x4F, 0x53, 1}, {0x4F, 0x54, 2}, {0x4F, 0x70, 3}, {0x4F, 0x80, 1}, {0x4F, 0x90, 2},
    {0x4F, 0x93, 1}, {0x4F, 0x9F, 1}, {0x4E, 0x00, 7}, {0x4E, 0x10, 7}, {0x4E, 0x09, 2},
    {0x4E, 0x19, 2}, {0x4E, 0x50, 9}, {0x4E, 0x51, 2}, {0x4E, 0x52, 1}, {0x4E, 0x55, 4},
    {0x4E, 0x71, 1}, {0x4E, 0x9D, 1}, {0x4E, 0x9E, 2}, {0x4E, 0x9F, 3},
};

bool IsParameter(uint8_t number) {
    return number >= kFirstParameter && number <= kLastParameter;
}

constexpr uint8_t kKnownModes[] = {0x00, 0x01, 0x02, 0x03, 0x50};
constexpr size_t kLongestEepromRun = 125; // words in one reply within 255 bytes

// Words the reader does not have, or a count it does not take.
std::optional<ReaderAnswer> EepromRefusal(const ReaderRegisters& r, const Bytes& d) {
    if (r.eepromRefusal >= 0 && size_t{d[1]} + d[2] > r.eepromWords)
        return r.eepromRefusal ? Nack(static_cast<uint8_t>(r.eepromRefusal)) : ReaderAnswer{0, {}};
    if (r.strictValues && (d[2] == 0 || d[2] > kLongestEepromRun)) return Nack(kNackDataCount);
    return std::nullopt;
}

bool OutOfRange(const ReaderRegisters& r, const Bytes& d) {
    if (!r.strictValues) return false;
    switch (d[0]) {
    case 0x00:
    case 0x10:
        return std::find(std::begin(kKnownModes), std::end(kKnownModes), d[1]) ==
               std::end(kKnownModes);
    case 0x9E:
        return d[1] > 1;
    default:
        return false;
    }
}

ReaderAnswer Read(ReaderRegisters& r, const Bytes& d) {
    switch (d[0]) {
    case 0x00:
        return Ack(0x00, {r.mode, r.second, r.flags, r.valueHigh, r.valueLow});
    case 0x09:
        return Ack(0x09, {r.tagMode});
    case 0x50:
        return Ack(0x50, Bytes(r.uidRegister.begin(), r.uidRegister.end()));
    case 0x51:
        return Ack(0x51, {r.afiRegister});
    case 0x52:
        return Ack(0x52, {r.powerDown});
    case 0x53:
        return Ack(0x53, {static_cast<uint8_t>(r.uidList.size())});
    case 0x54: { // 1-based index
        if (d[1] == 0 || d[1] > r.uidList.size())
            return Nack(r.strictValues ? kNackIdValue : kNackIllegal);
        Bytes values{d[1], 0x00};
        const Uid& uid = r.uidList[d[1] - 1u];
        values.insert(values.end(), uid.begin(), uid.end());
        return Ack(0x54, values);
    }
    case 0x70: {
        if (auto refusal = EepromRefusal(r, d)) return *refusal;
        const size_t start = size_t{d[1]} * 2, bytes = size_t{d[2]} * 2;
        if (bytes > 250 || start + bytes > r.eeprom.size()) return Nack(kNackDataCount);
        Bytes values{d[1], d[2]};
        values.insert(values.end(), r.eeprom.begin() + static_cast<long>(start),
                      r.eeprom.begin() + static_cast<long>(start + bytes));
        return Ack(0x70, values);
    }
    case 0x80:
        return Ack(0x80, {r.errorStatus});
    case 0x90:
        return Ack(0x90, Bytes(r.romVersion.begin(), r.romVersion.end()));
    case 0x93:
        return Ack(0x93, Bytes(r.modelName.begin(), r.modelName.end()));
    case 0x9F:
        return Ack(0x9F, {r.ioInput});
    default:
        if (d.size() == 1 && IsParameter(d[0])) return Ack(d[0], {r.parameters[d[0]]});
        return Nack(kNackIllegal);
    }
}

ReaderAnswer Write(ReaderRegisters& r, const Bytes& d) {
    if (OutOfRange(r, d)) return Nack(kNackIdValue);
    switch (d[0]) {
    case 0x00:
    case 0x10:
        r.mode = d[1];
        r.second = d[2];
        r.flags = d[3];
        r.valueHigh = d[5];
        r.valueLow = d[6];
        if (d[0] == 0x10) r.StoreModesInEeprom();
        return Ack(d[0]);
    case 0x09:
    case 0x19:
        r.tagMode = d[1];
        if (d[0] == 0x19) r.StoreTagModeInEeprom();
        return Ack(d[0]);
    case 0x50:
        std::copy_n(d.begin() + 1, 8, r.uidRegister.begin());
        return Ack(0x50);
    case 0x51:
        r.afiRegister = d[1];
        return Ack(0x51);
    case 0x52:
        r.powerDown = 1;
        return Ack(0x52);
    case 0x55:
        std::copy_n(d.begin() + 1, 3, r.led.begin());
        return Ack(0x55);
    case 0x70: {
        if (auto refusal = EepromRefusal(r, d)) return *refusal;
        const size_t start = size_t{d[1]} * 2, bytes = size_t{d[2]} * 2;
        if (d.size() != 3 + bytes) return Nack(kNackDataCount);
        if (start + bytes > r.eeprom.size()) return Nack(kNackIllegal);
        std::copy_n(d.begin() + 3, bytes, r.eeprom.begin() + static_cast<long>(start));
        r.SaveEeprom();
        return Ack(0x70);
    }
    case 0x71:
        r.InitEeprom();
        r.SaveEeprom();
        return Ack(0x71);
    case 0x9D:
        ++r.restarts;
        r.powerDown = 0;
        r.carrier = true;
        r.LoadModesFromEeprom();
        return Ack(0x9D);
    case 0x9E:
        r.carrier = d[1] != 0;
        r.powerDown = 0;
        return Ack(0x9E);
    case 0x9F:
        std::copy_n(d.begin() + 1, 2, r.ioOutput.begin());
        return Ack(0x9F);
    default:
        if (d.size() == 2 && IsParameter(d[0])) {
            r.parameters[d[0]] = d[1];
            return Ack(d[0]);
        }
        return Nack(kNackIllegal);
    }
}

} // namespace

ReaderRegisters::ReaderRegisters() {
    InitEeprom();
    LoadModesFromEeprom();
}

void ReaderRegisters::InitEeprom() {
    eeprom.fill(0);
    const Bytes modes{0x00, 0x00, 0x78, 0x00, 0x00, 0x0A};
    std::copy(modes.begin(), modes.end(), eeprom.begin() + kModeBytes);
    eeprom[kTagModeByte] = 0x54;
    auto setWord = [&](size_t address, uint16_t value) {
        eeprom[2 * address] = static_cast<uint8_t>(value);
        eeprom[2 * address + 1] = static_cast<uint8_t>(value >> 8);
    };
    setWord(12, 0x1205);
    setWord(16, 0x0001);
    setWord(19, 0x0004);
}

void ReaderRegisters::LoadEeprom() {
    if (eepromFile.empty()) return;
    std::ifstream in(eepromFile, std::ios::binary);
    Bytes stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (stored.size() == eeprom.size()) std::copy(stored.begin(), stored.end(), eeprom.begin());
    LoadModesFromEeprom();
}

void ReaderRegisters::SaveEeprom() const {
    if (eepromFile.empty()) return;
    std::ofstream out(eepromFile, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(eeprom.data()), static_cast<long>(eeprom.size()));
}

void ReaderRegisters::LoadModesFromEeprom() {
    mode = eeprom[kModeBytes];
    second = eeprom[kModeBytes + 1];
    flags = eeprom[kModeBytes + 2];
    valueHigh = eeprom[kModeBytes + 4];
    valueLow = eeprom[kModeBytes + 5];
    tagMode = eeprom[kTagModeByte];
}

void ReaderRegisters::StoreModesInEeprom() {
    const Bytes modes{mode, second, flags, 0x00, valueHigh, valueLow};
    std::copy(modes.begin(), modes.end(), eeprom.begin() + kModeBytes);
    SaveEeprom();
}

void ReaderRegisters::StoreTagModeInEeprom() {
    eeprom[kTagModeByte] = tagMode;
    SaveEeprom();
}

uint16_t ReaderRegisters::Word(size_t address) const {
    return static_cast<uint16_t>(eeprom[2 * address] | eeprom[2 * address + 1] << 8);
}

ReaderAnswer ExecuteReaderCommand(ReaderRegisters& reader, uint8_t command, const Bytes& data) {
    if (command == 0x42) { // buzzer: second, first
        if (data.size() != 2) return Nack(kNackDataCount);
        reader.buzzer = {data[1], data[0]};
        return Ack(0x42);
    }
    if (command == 0x4A) { // four zero bytes, then the tag data
        if (data.size() < 4) return Nack(kNackDataCount);
        reader.tagData.assign(data.begin() + 4, data.end());
        return Ack(0x4A);
    }
    if (data.empty()) return Nack(kNackDataCount);
    for (const Shape& shape : kShapes)
        if (shape.command == command && shape.sub == data[0] && shape.count != data.size())
            return Nack(kNackDataCount);
    if (command == 0x4E && data[0] == 0x70 && data.size() < 3) return Nack(kNackDataCount);
    return command == 0x4F ? Read(reader, data) : Write(reader, data);
}

} // namespace qx4sim
