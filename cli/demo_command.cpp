// qx4 demo: a short tour of the library against the reader (or the simulated one).
#include "command_table.h"
#include "system_info.h"

#include <cstring>

namespace qx4cli {

void RunDemo(Session& s) {
    s.Connect();
    char text[256] = {};
    s.Line("== reader");
    if (!s.Check(QX4GetROMVersion(text), "QX4GetROMVersion")) return;
    s.Field("version", Printable(text));
    if (!s.Check(QX4GetModelNameComad(text), "QX4GetModelNameComad")) return;
    s.Field("model", Printable(text));
    if (!s.Check(QX4SetTxOnOff(1), "QX4SetTxOnOff")) return;
    s.Field("carrier", "on");
    unsigned char word[2];
    if (!s.Check(QX4GetEepromData(12, word), "QX4GetEepromData")) return;
    s.Field("eepromWord12", word[0] | word[1] << 8, Hex(word, 2));

    s.Line("== tag");
    // A real reader's tag is someone's data: read only, unless asked.
    const bool writes = s.options().simulate || Given(s, "--write");
    // What is written goes to one tag: the named one, else the only one in the field.
    const std::optional<Uid> uid = OneTag(s);
    qx4dump::TagAccess& tag = s.Tag(true);
    qx4dump::SystemInfo info;
    if (!tag.ReadSystemInfo(info)) return s.Fail(tag.failure());
    s.Field("blockCount", info.blockCount.value_or(0));
    s.Field("blockSize", info.blockSize.value_or(0));
    QX4SetTagBlockSize(info.blockSize.value_or(4));
    const int addressed = uid ? 0x01 : 0x00;
    const unsigned char* target = s.TargetUid();

    if (!writes) {
        unsigned char current[33] = {};
        if (!s.Check(QX4ReadSingleBlock(0x10 | addressed, 2, current, target),
                     "QX4ReadSingleBlock"))
            return;
        s.Field("block2", Hex(current + 1, size_t(QX4GetTagBlockSize())));
        s.Note("block 2 not written: the reader is not simulated (--write writes it)");
        return;
    }
    const int block = 2;
    const char message[] = "QX4 demo block data";
    unsigned char data[33] = {};
    std::memcpy(data, message, std::min(sizeof message, size_t(QX4GetTagBlockSize())));
    if (!s.Check(QX4WriteSingleBlock(s.RequestMode(), block, data, target), "QX4WriteSingleBlock"))
        return;
    s.Field("written", Hex(data, size_t(QX4GetTagBlockSize())));
    unsigned char back[33] = {};
    if (!s.Check(QX4ReadSingleBlock(0x10 | addressed, block, back, target), "QX4ReadSingleBlock"))
        return;
    s.Field("readBack", Hex(back + 1, size_t(QX4GetTagBlockSize())));
    s.Field("locked", (back[0] & 1) != 0);
    s.Field("matches", std::memcmp(back + 1, data, size_t(QX4GetTagBlockSize())) == 0);
}

} // namespace qx4cli
