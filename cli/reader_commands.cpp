// qx4 subcommands addressed to the reader itself.
#include "command_table.h"

#include <cstdio>

namespace qx4cli {
namespace {

std::string Byte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

void Text(Session& s, unsigned char (*read)(char*), const char* function, const char* field) {
    s.Connect();
    char text[256] = {};
    if (s.Check(read(text), function)) s.Field(field, Printable(text));
}

void OneByte(Session& s, unsigned char (*read)(unsigned char*), const char* function,
             const char* field) {
    s.Connect();
    unsigned char value = 0;
    if (s.Check(read(&value), function)) s.Field(field, value, Byte(value));
}

// The word "eeprom" at `index`: the value is to be stored; anything else there is bad usage.
bool EepromWord(Session& s, size_t index) {
    if (!s.HasArg(index)) return false;
    if (s.Arg(index, "eeprom") != "eeprom")
        throw UsageError("the last word may only be eeprom, not \"" + s.Arg(index, "eeprom") +
                         "\"");
    return true;
}

} // namespace

void RunVersion(Session& s) {
    Text(s, QX4GetROMVersion, "QX4GetROMVersion", "version");
}
void RunModel(Session& s) {
    Text(s, QX4GetModelNameComad, "QX4GetModelNameComad", "model");
}

void RunRestart(Session& s) {
    s.Connect();
    if (s.Check(QX4ReStartComand(), "QX4ReStartComand")) s.Line("restart sent");
}

void RunCarrier(Session& s) {
    const std::string state = s.Arg(0, "on or off");
    if (state != "on" && state != "off") throw UsageError("carrier takes on or off");
    s.Connect();
    if (s.Check(QX4SetTxOnOff(state == "on"), "QX4SetTxOnOff")) s.Field("carrier", state);
}

void RunPowerDown(Session& s) {
    s.Connect();
    if (s.Check(QX4SetPowerDown(), "QX4SetPowerDown")) s.Line("power-down sent");
}

void RunPowerState(Session& s) {
    OneByte(s, QX4GetPowerDown, "QX4GetPowerDown", "powerState");
}
void RunErrorStatus(Session& s) {
    OneByte(s, QX4GetErrorStatus, "QX4GetErrorStatus", "errorStatus");
}
void RunIoRead(Session& s) {
    OneByte(s, QX4ReadIOPort, "QX4ReadIOPort", "ioPort");
}

void RunLed(Session& s) {
    const int a = s.IntArg(0, "FIRST", 0, 255), b = s.IntArg(1, "SECOND", 0, 255),
              c = s.IntArg(2, "THIRD", 0, 255);
    s.Connect();
    if (s.Check(QX4SetLEDCont(a, b, c), "QX4SetLEDCont")) s.Line("LED set");
}

void RunBuzzer(Session& s) {
    const int a = s.IntArg(0, "FIRST", 0, 255), b = s.IntArg(1, "SECOND", 0, 255);
    s.Connect();
    if (s.Check(QX4BuzOn(a, b), "QX4BuzOn")) s.Line("buzzer sent");
}

void RunIoWrite(Session& s) {
    const int a = s.IntArg(0, "FIRST", 0, 255), b = s.IntArg(1, "SECOND", 0, 255);
    s.Connect();
    if (s.Check(QX4WriteIOPort(a, b), "QX4WriteIOPort")) s.Line("I/O port written");
}

void RunSimpleRead(Session& s) {
    s.Connect();
    struct Collector : QX4Window {
        std::vector<std::string> texts;
    } collector;
    collector.copyData = [](QX4Window* self, const QX4CopyData* record) {
        static_cast<Collector*>(self)->texts.push_back(Hex(record->data, record->count, ""));
    };
    QX4SetHandle(&collector);
    const bool ok = s.Check(QX4SimpleReadCmd(), "QX4SimpleReadCmd");
    QX4SetHandle(nullptr);
    if (ok) s.Field("frames", collector.texts);
}

void RunOpMode(Session& s) {
    if (s.HasArg(0)) {
        const int mode = s.IntArg(0, "MODE", 0, 255), second = s.IntArg(1, "SECOND", 0, 255),
                  flags = s.IntArg(2, "FLAGS", 0, 255), value = s.IntArg(3, "VALUE", 0, 65535);
        const bool eeprom = EepromWord(s, 4);
        if (eeprom) ConfirmLock(s, "storing the operation mode in the reader's EEPROM");
        s.Connect(Session::Then::ModeWrite); // the way out of auto-scan is never locked
        if (s.Check(QX4SetRWMode(mode, second, flags, value, eeprom), "QX4SetRWMode"))
            s.Line("operation mode set");
        return;
    }
    s.Connect();
    unsigned char mode = 0, second = 0, flags = 0;
    if (!s.Check(QX4GetRWMode(&mode, &second, &flags), "QX4GetRWMode")) return;
    s.Field("mode", mode, Byte(mode));
    s.Field("second", second, Byte(second));
    s.Field("flags", flags, Byte(flags));
    // The two value bytes come after the three the call gives.
    if (const Bytes rest = s.link().LastAckData(); rest.size() >= 5) {
        const int value = rest[3] << 8 | rest[4];
        char text[8];
        std::snprintf(text, sizeof text, "0x%04X", value);
        s.Field("value", value, text);
    }
}

void RunTagMode(Session& s) {
    if (s.HasArg(0)) {
        const int value = s.IntArg(0, "VALUE", 0, 255);
        const bool eeprom = EepromWord(s, 1);
        if (eeprom) ConfirmLock(s, "storing the tag mode in the reader's EEPROM");
        s.Connect();
        if (s.Check(QX4SetTagMode(value, eeprom), "QX4SetTagMode")) s.Line("tag mode set");
        return;
    }
    OneByte(s, QX4GetTagMode, "QX4GetTagMode", "tagMode");
}

void RunEepromRead(Session& s) {
    const int address = s.IntArg(0, "ADDRESS", 0, 255);
    const int count = s.HasArg(1) ? s.IntArg(1, "COUNT", 1, 126) : 1;
    s.Connect();
    Bytes data(2 * size_t(count));
    if (!s.Check(QX4GetEepromData2(address, count, data.data()), "QX4GetEepromData2")) return;
    nlohmann::json words = nlohmann::json::array();
    for (int i = 0; i < count; ++i) {
        const unsigned word = data[2 * i] | data[2 * i + 1] << 8;
        words.push_back(word);
        char line[32];
        std::snprintf(line, sizeof line, "word %d: 0x%04X", address + i, word);
        s.Line(line);
    }
    s.result()["address"] = address;
    s.result()["words"] = words;
    s.result()["data"] = Hex(data, "");
}

void RunEepromWrite(Session& s) {
    const int address = s.IntArg(0, "ADDRESS", 0, 255);
    const Bytes data = s.HexArg(1, "HEXBYTES");
    if (data.empty() || data.size() % 2 || data.size() > 252)
        throw UsageError("HEXBYTES must be 1 to 126 words (2 bytes each)");
    ConfirmLock(s, "writing " + std::to_string(data.size() / 2) +
                       " word(s) of the reader's EEPROM from word " + std::to_string(address));
    s.Connect();
    if (s.Check(QX4SetEepromData2(address, static_cast<int>(data.size() / 2), data.data()),
                "QX4SetEepromData2"))
        s.Line(std::to_string(data.size() / 2) + " word(s) written");
}

void RunEepromInit(Session& s) {
    ConfirmLock(s, "initialising the reader's EEPROM (every stored setting)");
    s.Connect();
    if (s.Check(QX4InitEEPROM(), "QX4InitEEPROM")) s.Line("EEPROM initialised");
}

void RunParamRead(Session& s) {
    const int number = s.IntArg(0, "NUMBER", 0, 255);
    s.Connect();
    unsigned char value = 0;
    if (s.Check(QX4GetParamData(number, &value), "QX4GetParamData"))
        s.Field("value", value, Byte(value));
}

void RunParamWrite(Session& s) {
    const int number = s.IntArg(0, "NUMBER", 0, 255), value = s.IntArg(1, "VALUE", 0, 255);
    ConfirmLock(s, "writing reader parameter " + std::to_string(number));
    s.Connect();
    if (s.Check(QX4SetParamData(number, value), "QX4SetParamData")) s.Line("parameter written");
}

void RunUidRegister(Session& s) {
    if (s.HasArg(0)) {
        const Uid uid = s.UidArg(0, "UID");
        s.Connect();
        if (s.Check(QX4SetUIDSetCmd(uid.data()), "QX4SetUIDSetCmd")) s.Line("UID register set");
        return;
    }
    s.Connect();
    Uid uid{};
    if (s.Check(QX4GetUIDGetCmd(uid.data()), "QX4GetUIDGetCmd"))
        s.Field("uid", UidText(uid.data()));
}

void RunUidList(Session& s) {
    s.Connect();
    unsigned char count = 0;
    if (!s.Check(QX4GetUidNumber(&count), "QX4GetUidNumber")) return;
    s.Field("count", count);
    ShowUidList(s, count);
}

void RunAfiRegister(Session& s) {
    if (s.HasArg(0)) {
        const int value = s.IntArg(0, "VALUE", 0, 255);
        s.Connect();
        if (s.Check(QX4SetAFIData(value), "QX4SetAFIData")) s.Line("AFI register set");
        return;
    }
    OneByte(s, QX4GetAFIData, "QX4GetAFIData", "afi");
}

void RunTagData(Session& s) {
    const std::string text = s.Arg(0, "TEXT");
    if (text.size() > 251) throw UsageError("TEXT holds at most 251 bytes");
    s.Connect();
    // The request carries no UID: the reader writes into whichever tag answers, so only
    // with one tag in the field, and with --uid only when it is that tag.
    std::string error;
    bool several = false;
    qx4dump::CallFailure cause;
    const auto only =
        qx4dump::FindTheTag(s.link(), s.options().timeoutMs, true, error, several, &cause);
    if (several)
        throw Refusal(error + ": tag-data's request carries no UID, so it writes only with one "
                              "tag in the field");
    if (!only) return s.Fail(cause);
    if (const auto& named = s.options().uid; named && *only != *named)
        throw Refusal("tag " + UidText(only->data()) + " is in the field, not " +
                      UidText(named->data()) + ": nothing sent");
    s.Field("uid", UidText(only->data()));
    if (s.Check(QX4WriteTagData(static_cast<int>(text.size()),
                                reinterpret_cast<const unsigned char*>(text.data())),
                "QX4WriteTagData"))
        s.Field("datanum", text.size());
}

} // namespace qx4cli
