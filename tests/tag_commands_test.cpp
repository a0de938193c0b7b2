// Tag commands: request frames byte for byte, reply copies, and the simulated tags.
#include "link_fixture.h"

#include <cstring>

namespace qx4test {
namespace {

const unsigned char kUid18[8] = {1, 2, 3, 4, 5, 6, 7, 8};
// The default field: tag one (4-byte blocks), tag two (8-byte blocks), a my-d tag.
const unsigned char kTagOne[8] = {0x78, 0x56, 0x34, 0x12, 0x00, 0x01, 0x04, 0xE0};
const unsigned char kTagTwo[8] = {0x21, 0x43, 0x65, 0x87, 0x01, 0x00, 0x07, 0xE0};
const unsigned char kMyd[8] = {0x10, 0x32, 0x54, 0x76, 0x98, 0x10, 0x05, 0xE0};

class TagCommands : public LinkTest {
  protected:
    // Sends a command, which a NACK ends at once, and returns its frame.
    template <typename Call> Bytes FrameOf(Call call) {
        reader->Peer().Script({{qx4sim::EncodeFrame(0x31, {0x44})}});
        call();
        return LastSent();
    }
    std::array<uint8_t, 8> CurrentUidSentBy(int mode) {
        QX4ResetToReady(mode, kUid18);
        const Bytes sent = LastSent();
        std::array<uint8_t, 8> uid{};
        std::copy_n(sent.begin() + 6, 8, uid.begin());
        return uid;
    }
};

TEST_F(TagCommands, WorkedExampleFrames) {
    unsigned char out[300], dsfid, uid[8], count;
    int length;
    EXPECT_EQ(FrameOf([&] { QX4Inventory(0x40, &dsfid, uid); }), Hex("02 00 78 02 01 40 03 C0 0D"));
    EXPECT_EQ(FrameOf([&] { QX4Inventory(0x43, &dsfid, uid); }), Hex("02 00 78 02 01 40 03 C0 0D"));
    EXPECT_EQ(FrameOf([&] { QX4Inventory2(0, 0, &count); }), Hex("02 00 78 03 F0 00 00 03 70 0D"));
    EXPECT_EQ(FrameOf([&] { QX4ReadSingleBlock(0, 5, out, kUid18); }),
              Hex("02 00 78 03 20 05 00 03 A5 0D"));
    EXPECT_EQ(FrameOf([&] { QX4ReadSingleBlock(1, 5, out, kUid18); }),
              Hex("02 00 78 0B 20 05 01 01 02 03 04 05 06 07 08 03 D2 0D"));
    EXPECT_EQ(FrameOf([&] { QX4StayQuiet(0, kUid18); }),
              Hex("02 00 78 0A 02 00 01 02 03 04 05 06 07 08 03 AD 0D"));
    EXPECT_EQ(FrameOf([&] { QX4SelectTag(0, kUid18); }),
              Hex("02 00 78 0A 25 00 01 02 03 04 05 06 07 08 03 D0 0D"));
    EXPECT_EQ(FrameOf([&] { QX4SelectTag(1, kUid18); }).size(), 17u); // one UID, not two
    EXPECT_EQ(FrameOf([&] { QX4ResetToReady(0, kUid18); }), Hex("02 00 78 02 26 00 03 A5 0D"));
    EXPECT_EQ(FrameOf([&] { QX4ResetToReady(2, kUid18); }).size(), 9u);
    EXPECT_EQ(FrameOf([&] { QX4ReadMultiBlock(0x10, 0, 3, out, kUid18); }),
              Hex("02 00 78 04 23 00 03 10 03 B7 0D"));
    const unsigned char block[4] = {0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(FrameOf([&] { QX4WriteSingleBlock(0, 3, block, kUid18); }),
              Hex("02 00 78 07 21 03 11 22 33 44 00 03 52 0D"));
    const unsigned char two[8] = {0xA0, 0xA1, 0xA2, 0xA3, 0xB0, 0xB1, 0xB2, 0xB3};
    EXPECT_EQ(FrameOf([&] { QX4WriteMultiBlock(0, 2, 1, two, kUid18); }),
              Hex("02 00 78 0C 24 02 01 A0 A1 A2 A3 B0 B1 B2 B3 00 03 FC 0D"));
    const unsigned char ab[2] = {0xAA, 0xBB};
    EXPECT_EQ(FrameOf([&] { QX4WriteBytes(0, 1, 2, ab, kUid18); }),
              Hex("02 00 78 06 A1 01 02 AA BB 00 03 8C 0D"));
    EXPECT_EQ(FrameOf([&] { QX4GetMBlockSecSt(0, 0, 7, out, kUid18); }),
              Hex("02 00 78 04 2C 00 07 00 03 B4 0D"));
    EXPECT_EQ(FrameOf([&] { QX4ReadBytes(0, 1, 5, out, kUid18); }),
              Hex("02 00 78 04 A0 01 05 00 03 27 0D"));
    EXPECT_EQ(FrameOf([&] { QX4GetSystemInfo(0, out, &length, kUid18); }),
              Hex("02 00 78 02 2B 00 03 AA 0D"));
    EXPECT_EQ(FrameOf([&] { QX4GetSystemInfo(1, out, &length, kUid18); }),
              Hex("02 00 78 0A 2B 01 01 02 03 04 05 06 07 08 03 D7 0D"));
    EXPECT_EQ(FrameOf([&] { QX4WriteAFI(0, 0x12, kUid18); }), Hex("02 00 78 03 27 12 00 03 B9 0D"));
    EXPECT_EQ(FrameOf([&] { QX4LockAFI(0, kUid18); }), Hex("02 00 78 02 28 00 03 A7 0D"));
    EXPECT_EQ(FrameOf([&] { QX4LockDSFID(0, kUid18); }), Hex("02 00 78 02 2A 00 03 A9 0D"));
    EXPECT_EQ(FrameOf([&] { QX4WrietDSFID(1, 0x34, kUid18); }),
              Hex("02 00 78 0B 29 34 01 01 02 03 04 05 06 07 08 03 0A 0D"));
    EXPECT_EQ(FrameOf([&] { QX4Myd_Read(0, 2, out, kUid18); }),
              Hex("02 00 78 04 B0 02 00 00 03 33 0D"));
    EXPECT_EQ(FrameOf([&] { QX4Myd_Read(0x11, 2, out, kUid18); }),
              Hex("02 00 78 0C B0 02 00 11 01 02 03 04 05 06 07 08 03 70 0D"));
    const unsigned char eight[8] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
    EXPECT_EQ(FrameOf([&] { QX4MydWrite(0, 2, eight, kUid18); }),
              Hex("02 00 78 0C B1 02 00 10 11 12 13 14 15 16 17 00 03 D8 0D"));
    EXPECT_EQ(FrameOf([&] { QX4Myd_WriteByte(0, 2, 0x05, 0xAA, kUid18); }),
              Hex("02 00 78 06 B2 02 00 05 AA 00 03 E6 0D"));
    unsigned char buf[9];
    std::memcpy(buf, eight, 8);
    EXPECT_EQ(FrameOf([&] { QX4MydWriteReread(0, 2, buf, kUid18); }),
              Hex("02 00 78 0C B3 02 00 10 11 12 13 14 15 16 17 00 03 DA 0D"));
}

TEST_F(TagCommands, BlockSizesShapeTheData) {
    unsigned char data[16] = {};
    QX4SetTagBlockSize(8);
    EXPECT_EQ(FrameOf([&] { QX4WriteSingleBlock(0, 0, data, kUid18); })[3], 3 + 8);
    EXPECT_EQ(FrameOf([&] { QX4Write2Blocks(0, 0, data, kUid18); })[3], 3 + 16);
    QX4SetTagBlockSize(4);
    EXPECT_EQ(FrameOf([&] { QX4Write2Blocks(0, 0, data, kUid18); })[3], 3 + 8);
    EXPECT_EQ(FrameOf([&] { QX4WriteBytes(0, 0, 0, data, kUid18); })[3], 4);
    EXPECT_EQ(FrameOf([&] { QX4WriteBytes(1, 0, 0, data, kUid18); })[3], 12);
    QX4SetTagMydBlockSize(4);
    EXPECT_EQ(FrameOf([&] { QX4MydWrite(0, 0, data, kUid18); })[3], 8);
    EXPECT_EQ(FrameOf([&] { QX4Myd_WriteByte(0, 0, 1, 2, kUid18); })[3], 6);
    EXPECT_EQ(FrameOf([&] { QX4Myd_WriteByte(1, 0, 1, 2, kUid18); })[3], 14);
}

TEST_F(TagCommands, DataFieldsOver255BytesSendNothing) {
    static unsigned char huge[4096] = {};
    const size_t before = reader->Peer().Frames().size();
    QX4SetTagBlockSize(4);
    EXPECT_EQ(QX4WriteMultiBlock(0, 0, 62, huge, kUid18), 0); // 63 blocks: 256 bytes
    EXPECT_EQ(QX4WriteMultiBlock(1, 0, 60, huge, kUid18), 0); // addressed, 61 blocks
    EXPECT_EQ(QX4WriteBytes(1, 0, 244, huge, kUid18), 0);
    QX4SetTagBlockSize(32);
    EXPECT_EQ(QX4WriteMultiBlock(0, 0, 7, huge, kUid18), 0); // 8 blocks of 32: 256 bytes
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_BAD_ARGUMENT);
    EXPECT_EQ(QX4ReadMultiBlock(0, 0, 7, huge, kUid18), 0); // the reply could not be framed
    EXPECT_EQ(QX4GetFailureCause(), QX4_CAUSE_BAD_ARGUMENT);
    QX4SetTagBlockSize(4);
    EXPECT_EQ(reader->Peer().Frames().size(), before);
}

TEST_F(TagCommands, CurrentUidFollowsTheCallers) {
    unsigned char out[8];
    const unsigned char other[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    QX4ReadSingleBlock(0x02, 0, out, other); // designation 2: no UID sent, still recorded
    EXPECT_EQ(CurrentUidSentBy(1), (std::array<uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
    QX4StayQuiet(0, other); // leaves it alone
    FrameOf([&] { QX4LockBlock(1, 0, kTagOne); });
    const Bytes sent = LastSent();
    EXPECT_EQ(Bytes(sent.begin() + 7, sent.begin() + 15), Bytes(kTagOne, kTagOne + 8));
}

TEST_F(TagCommands, InventoryAndSelectOnTheField) {
    unsigned char dsfid = 0xEE, uid[8] = {};
    ASSERT_EQ(QX4Inventory(0x40, &dsfid, uid), 1);
    EXPECT_EQ(dsfid, 0);
    EXPECT_EQ(0, std::memcmp(uid, kTagOne, 8));
    // Quiet tags do not answer an inventory; the next one does.
    ASSERT_EQ(QX4StayQuiet(0, kTagOne), 1);
    ASSERT_EQ(QX4InventoryB(0x40, &dsfid, uid), 1);
    EXPECT_EQ(0, std::memcmp(uid, kTagTwo, 8));
    EXPECT_EQ(dsfid, 1);
    unsigned char count = 0x77;
    ASSERT_EQ(QX4Inventory2(0, 1, &count), 1);
    EXPECT_EQ(count, 0x77); // only parameter 0 returns the count
    ASSERT_EQ(QX4Inventory2(0, 256, &count), 1);
    EXPECT_EQ(count, 0x77);
    ASSERT_EQ(QX4StayQuiet(0, kTagTwo), 1);
    ASSERT_EQ(QX4StayQuiet(0, kMyd), 1);
    EXPECT_EQ(QX4Inventory(0x40, &dsfid, uid), 0);
    EXPECT_EQ(ErrorCode().first, 4);
    // Addressed requests still reach a quiet tag; reset brings it back.
    ASSERT_EQ(QX4ResetToReady(1, kTagTwo), 1);
    ASSERT_EQ(QX4Inventory(0x40, &dsfid, uid), 1);
    EXPECT_EQ(0, std::memcmp(uid, kTagTwo, 8));
    // Designation 3: the selected tag.
    ASSERT_EQ(QX4SelectTag(0, kTagOne), 1);
    unsigned char block[4];
    ASSERT_EQ(QX4ReadSingleBlock(0x03, 0, block, kUid18), 1);
    EXPECT_EQ(0, std::memcmp(block, "QX4 ", 4));
    // Designation 2: the tag in the reader's UID register.
    ASSERT_EQ(QX4SetUIDSetCmd(kTagTwo), 1);
    unsigned char info[255];
    int length = 0;
    ASSERT_EQ(QX4GetSystemInfo(0x02, info, &length, kUid18), 1);
    EXPECT_EQ(0, std::memcmp(info + 1, kTagTwo, 8));
}

TEST_F(TagCommands, BlockReadsWithAndWithoutStatus) {
    unsigned char out[64];
    std::memset(out, 0xEE, sizeof out);
    ASSERT_EQ(QX4ReadSingleBlock(0x11, 0, out, kTagOne), 1);
    EXPECT_EQ(0, std::memcmp(out, "\x00QX4 \xEE", 6)); // status, 4 data bytes, untouched
    ASSERT_EQ(QX4ReadSingleBlock(0x01, 0, out, kTagOne), 1);
    EXPECT_EQ(0, std::memcmp(out, "QX4 ", 4));
    std::memset(out, 0xEE, sizeof out);
    ASSERT_EQ(QX4ReadMultiBlock(0x11, 0, 2, out, kTagOne), 1);
    EXPECT_EQ(0, std::memcmp(out, "\x00QX4 \x00tag \x00one\x00\xEE", 16));
    ASSERT_EQ(QX4ReadMultiBlock(0x10, 0, 0, out, kTagOne), 1);
    ASSERT_EQ(QX4GetMBlockSecSt(0, 0, 7, out, kTagOne), 1);
    EXPECT_EQ(0, std::memcmp(out, "\0\0\0\0\0\0\0\0", 8));
    std::memset(out, 0xEE, sizeof out);
    ASSERT_EQ(QX4ReadBytes(0, 1, 5, out, kTagOne), 1);
    EXPECT_EQ(0, std::memcmp(out, "tag on\xEE", 7)); // byteCount + 1 from block 1
    // Block sizes no tag has are refused: the reads keep sizing by 4.
    for (int size : {0, -1, 33}) {
        QX4SetTagBlockSize(size);
        QX4SetTagMydBlockSize(size);
    }
    EXPECT_EQ(QX4GetTagBlockSize(), 4);
    EXPECT_EQ(QX4GetTagMydBlockSize(), 8);
    std::memset(out, 0xEE, sizeof out);
    ASSERT_EQ(QX4ReadSingleBlock(0x10, 0, out, kTagOne), 1);
    EXPECT_EQ(0, std::memcmp(out, "\x00QX4 \xEE", 6));
}

TEST_F(TagCommands, ShortAcknowledgementsCopyNothing) {
    unsigned char out[16];
    std::memset(out, 0xEE, sizeof out);
    AnswerNextWith(0x30, {0x20, 0x01, 0x02}); // two bytes where four are due
    EXPECT_EQ(QX4ReadSingleBlock(0, 0, out, kTagOne), 0);
    EXPECT_EQ(out[0], 0xEE);
    unsigned char dsfid = 0xEE, uid[8] = {};
    AnswerNextWith(0x30, {0x01, 0x00, 1, 2, 3});
    EXPECT_EQ(QX4Inventory(0, &dsfid, uid), 0);
    EXPECT_EQ(dsfid, 0xEE);
    int length = -1;
    AnswerNextWith(0x30, {0x2B, 0x00, 1, 2});
    EXPECT_EQ(QX4GetSystemInfo(0, out, &length, kTagOne), 0);
    EXPECT_EQ(length, -1);
}

TEST_F(TagCommands, WriteReadBackAndLockErrors) {
    const unsigned char data[8] = {'d', 'a', 't', 'a', 'm', 'o', 'r', 'e'};
    ASSERT_EQ(QX4WriteSingleBlock(0x11, 3, data, kTagOne), 1);
    unsigned char out[16];
    ASSERT_EQ(QX4ReadSingleBlock(0x01, 3, out, kTagOne), 1);
    EXPECT_EQ(0, std::memcmp(out, "data", 4));
    ASSERT_EQ(QX4WriteMultiBlock(0x01, 4, 1, data, kTagOne), 1);
    ASSERT_EQ(QX4ReadMultiBlock(0x01, 4, 1, out, kTagOne), 1);
    EXPECT_EQ(0, std::memcmp(out, data, 8));

    ASSERT_EQ(QX4LockBlock(0x01, 3, kTagOne), 1);
    EXPECT_EQ(QX4WriteSingleBlock(0x01, 3, data, kTagOne), 0);
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x12));
    EXPECT_EQ(QX4LockBlock(0x01, 3, kTagOne), 0);
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x11));
    EXPECT_EQ(QX4ReadSingleBlock(0x01, 200, out, kTagOne), 0);
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x10));
    ASSERT_EQ(QX4GetMBlockSecSt(0x01, 2, 2, out, kTagOne), 1);
    EXPECT_EQ(out[1], 1);
    ASSERT_EQ(QX4Lock2Blocks(0x11, 10, kTagOne), 1);
    EXPECT_EQ(QX4Write2Blocks(0x01, 10, data, kTagOne), 0);
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x12));
    const unsigned char bytes[3] = {'x', 'y', 'z'};
    ASSERT_EQ(QX4WriteBytes(0x01, 5, 3, bytes, kTagOne), 1);
    ASSERT_EQ(QX4ReadBytes(0x01, 5, 2, out, kTagOne), 1);
    EXPECT_EQ(0, std::memcmp(out, "xyz", 3));
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(QX4ReadSingleBlock(0x01, 200, out, kTagOne), 0);
    EXPECT_EQ(out[0], 0xEE); // a NACK leaves the buffer as it was
}

TEST_F(TagCommands, AfiDsfidAndSystemInformation) {
    ASSERT_EQ(QX4WriteAFI(0x01, 0x33, kTagOne), 1);
    ASSERT_EQ(QX4WrietDSFID(0x01, 0x44, kTagOne), 1);
    unsigned char info[255];
    int length = 0;
    ASSERT_EQ(QX4GetSystemInfo(0x01, info, &length, kTagOne), 1);
    // flags, UID, DSFID, AFI, blocks - 1, size - 1, IC reference, ETX
    EXPECT_EQ(length, 15);
    EXPECT_EQ(Bytes(info, info + 15), (Bytes{0x0F, 0x78, 0x56, 0x34, 0x12, 0x00, 0x01, 0x04, 0xE0,
                                             0x44, 0x33, 27, 3, 0x01, 0x03}));
    ASSERT_EQ(QX4LockAFI(0x01, kTagOne), 1);
    EXPECT_EQ(QX4LockAFI(0x01, kTagOne), 0);
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x11));
    EXPECT_EQ(QX4WriteAFI(0x01, 1, kTagOne), 0);
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x12));
    ASSERT_EQ(QX4LockDSFID(0x01, kTagOne), 1);
    EXPECT_EQ(QX4GetSystemInfo(0x11, info, &length, kTagOne), 0); // no option flag here
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x03));
}

TEST_F(TagCommands, SystemInformationFieldsFollowTheFlags) {
    for (uint8_t flags : {0x00, 0x01, 0x02, 0x04, 0x08, 0x0F}) {
        reader->Modify([&](qx4sim::ReaderRegisters&, std::vector<qx4sim::Tag>& field) {
            field[0].infoFlags = flags;
            field[0].afi = 0xAF;
        });
        unsigned char info[255];
        int length = 0;
        ASSERT_EQ(QX4GetSystemInfo(0, info, &length, kUid18), 1);
        const int fields = (flags & 1) + (flags >> 1 & 1) + 2 * (flags >> 2 & 1) + (flags >> 3 & 1);
        EXPECT_EQ(length, 10 + fields) << int(flags);
        EXPECT_EQ(info[length - 1], 0x03); // the copy ends with the frame's ETX
        if (flags == 0x02) {
            EXPECT_EQ(info[9], 0xAF);
        }
    }
}

TEST_F(TagCommands, MydBlocks) {
    const unsigned char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(QX4MydWrite(0x01, 2, data, kMyd), 1);
    unsigned char out[9];
    ASSERT_EQ(QX4Myd_Read(0x11, 2, out, kMyd), 1);
    EXPECT_EQ(Bytes(out, out + 9), (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_EQ(QX4Myd_WriteByte(0x01, 2, 7, 0x99, kMyd), 1);
    unsigned char buf[9] = {9, 9, 9, 9, 9, 9, 9, 9, 0xEE};
    ASSERT_EQ(QX4MydWriteReread(0x01, 3, buf, kMyd), 1);
    EXPECT_EQ(buf[8], 0xEE); // no option flag: k bytes read back
    ASSERT_EQ(QX4MydWriteReread(0x11, 3, buf, kMyd), 1);
    EXPECT_EQ(Bytes(buf, buf + 9), (Bytes{0, 9, 9, 9, 9, 9, 9, 9, 9}));
    ASSERT_EQ(QX4Myd_Read(0x01, 2, out, kMyd), 1);
    EXPECT_EQ(out[7], 0x99);
    // An ISO tag does not know the my-d codes; a NACK leaves buf as it was.
    unsigned char kept[8] = {5, 5, 5, 5, 5, 5, 5, 5};
    EXPECT_EQ(QX4MydWriteReread(0x01, 0, kept, kTagOne), 0);
    EXPECT_EQ(ErrorCode(), std::make_pair(5, 0x01));
    EXPECT_EQ(kept[0], 5);
}

TEST_F(TagCommands, CarrierOffOrEmptyFieldIsNoTag) {
    unsigned char dsfid, uid[8];
    QX4SetTxOnOff(0);
    EXPECT_EQ(QX4Inventory(0, &dsfid, uid), 0);
    EXPECT_EQ(ErrorCode().first, 4);
    QX4SetTxOnOff(1);
    reader->SetField({});
    EXPECT_EQ(QX4Inventory(0, &dsfid, uid), 0);
    EXPECT_EQ(ErrorCode().first, 4);
}

} // namespace
} // namespace qx4test
