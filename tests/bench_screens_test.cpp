// The checker's command screens against the simulated reader and its tags.
#include "bench_fixture.h"

namespace qx4test {
namespace {

using qx4bench::ExchangeDialog;
namespace idm = qx4bench::idm;

// Answers a block dialog: first field, then the others in order.
class ScreenTest : public BenchTest {
  protected:
    void SetUp() override {
        BenchTest::SetUp();
        Start();
        Command(idm::Inventory); // the first tag of the field becomes tagUid
        view()->OnClear();
    }
    qx4sim::Bytes Block(size_t tag, size_t block) {
        const auto field = reader->Field();
        const auto& t = field[tag];
        return qx4sim::Bytes(t.memory.begin() + long(block * t.blockSize),
                             t.memory.begin() + long((block + 1) * t.blockSize));
    }
    // The mode byte of the last tag request: right after the code and its parameters.
    uint8_t SentByte(size_t index) { return LastSent()[4 + index]; }
};

TEST_F(ScreenTest, InventoryShowsTheUidMostSignificantFirst) {
    Command(idm::Inventory);
    EXPECT_EQ(Lines(),
              (QStringList{"OK: QX4Inventory", "DSFID: 00 ", "UID: E0 04 01 00 12 34 56 78 "}));
    EXPECT_EQ(view()->inventoryFlags, 0x40);
    Command(idm::Inventory2);
    EXPECT_EQ(Lines().mid(3), (QStringList{"OK: QX4Inventory2", "受信UID数 : 3 "}));
}

TEST_F(ScreenTest, ReadSingleBlockOutOfRangeAndOfferedAgain) {
    Answer(Fields({"300"}));
    Command(idm::ReadSingleBlock);
    EXPECT_EQ(view()->BlockNo, 44);
    EXPECT_EQ(Lines(), (QStringList{"Error: QX4ReadSingleBlock",
                                    "The specified block is not available (doesn’t exist)."}));
    Answer([](ExchangeDialog& dialog) {
        EXPECT_EQ(Text(dialog, 1002), "44");
        SetText(dialog, 1002, "0");
        return true;
    });
    Command(idm::ReadSingleBlock);
    EXPECT_EQ(Lines().mid(2), (QStringList{"OK: QX4ReadSingleBlock", "data: 51 58 34 20 "}));
    view()->ReadOptionFlag = 1;
    Answer(Fields({"0"}));
    Command(idm::ReadSingleBlock);
    EXPECT_EQ(Lines().last(), "data: 00 51 58 34 20 "); // status byte first
    Answer([](ExchangeDialog&) { return false; });
    const int before = LineCount();
    Command(idm::ReadSingleBlock);
    EXPECT_EQ(LineCount(), before);
}

TEST_F(ScreenTest, WritesPadTheStringAndStoreTheFields) {
    Answer(Fields({"3", "AB"}));
    Command(idm::WriteSingleBlock);
    EXPECT_EQ(Lines().last(), "OK: QX4WriteSingleBlock");
    EXPECT_EQ(Block(0, 3), (qx4sim::Bytes{0x41, 0x42, 0x00, 0x00}));
    EXPECT_EQ(SentByte(6), 0x10); // write mode: option flag 1 by default
    EXPECT_EQ(view()->WrStr1, "AB");

    Answer(Fields({"4", "1", "12345678"}));
    Command(idm::WriteMultiBlock);
    EXPECT_EQ(Lines().last(), "OK: QX4WriteMultiBlock");
    EXPECT_EQ(Block(0, 5), (qx4sim::Bytes{'5', '6', '7', '8'}));

    Answer(Fields({"6", "ABCDEFGH"}));
    Command(idm::Write2Blocks);
    EXPECT_EQ(Block(0, 7), (qx4sim::Bytes{'E', 'F', 'G', 'H'}));

    Answer(Fields({"1", "ABC"}));
    Command(idm::WriteBytes);
    EXPECT_EQ(view()->BlockNum, 3);
    EXPECT_EQ(Block(0, 1), (qx4sim::Bytes{'A', 'B', 'C', ' '}));
    Answer([](ExchangeDialog& dialog) {
        EXPECT_EQ(Text(dialog, 1003), "3");
        SetText(dialog, 1003, "0");
        return true;
    });
    Command(idm::ReadBytes);
    EXPECT_EQ(Lines().mid(Lines().size() - 2), (QStringList{"OK: QX4ReadBytes", "data: "}));

    // A string longer than the buffer is cut at a character boundary.
    Answer(Fields({"0", QString(200, QChar(0x30BF))})); // 'タ' is 2 bytes in Shift-JIS
    Command(idm::WriteSingleBlock);
    EXPECT_EQ(Block(0, 0), (qx4sim::Bytes{0x83, 0x5E, 0x83, 0x5E}));
}

TEST_F(ScreenTest, ReadMultiBlockAndSecurityStatus) {
    Answer(Fields({"0", "2"}));
    Command(idm::ReadMultiBlock);
    EXPECT_EQ(Lines(),
              (QStringList{"OK: QX4ReadMultiBlock", "data: 51 58 34 20 74 61 67 20 6F 6E 65 00 "}));
    Answer(Fields({"0", "7"}));
    Command(idm::GetMBlockSecSt);
    EXPECT_EQ(Lines().last(), "data: 00 00 00 00 00 00 00 00 ");
    // Far more blocks than a frame carries: refused, nothing read past the buffer.
    Answer(Fields({"0", "255"}));
    const int before = LineCount();
    Command(idm::ReadMultiBlock);
    const QStringList lines = LinesSince(before);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), "Error: QX4ReadMultiBlock");
    for (const QString& line : lines)
        EXPECT_FALSE(line.startsWith("data:")) << line;
}

TEST_F(ScreenTest, InventoryWithSettings) {
    Answer([](ExchangeDialog& dialog) {
        EXPECT_EQ(Combo(dialog, 1023)->currentText(), "未使用");
        EXPECT_TRUE(Checked(dialog, 1045));
        EXPECT_TRUE(Checked(dialog, 1043));
        Click(dialog, 1042); // AFI 有効
        Click(dialog, 1044); // 1 slots
        return true;
    });
    Command(idm::InventoryWithSettings);
    EXPECT_EQ(view()->inventoryFlags, 0x60);
    EXPECT_EQ(LastWrite(), qx4sim::EncodeFrame(0x78, {0x01, 0x60}));
    EXPECT_EQ(Lines().first(), "OK: QX4Inventory");

    Answer([](ExchangeDialog& dialog) {
        Click(dialog, 1040); // option_flag 1
        return true;
    });
    Command(idm::InventoryWithSettings);
    Answer(Fields({"0", "0"}));
    Command(idm::ReadMultiBlock);
    EXPECT_EQ(Lines().last(), "OK: QX4ReadMultiBlock"); // no data line

    Answer([](ExchangeDialog&) { return false; });
    Command(idm::InventoryWithSettings);
    EXPECT_EQ(view()->inventoryFlags, 0);
}

TEST_F(ScreenTest, StateCommandsAndSystemInformation) {
    view()->UidFlag = 1;
    Command(idm::SelectTag);
    EXPECT_EQ(view()->inventoryFlags, 0x01);
    EXPECT_EQ(LastSent().size(), 17u);
    Command(idm::StayQuiet);
    Command(idm::ResetToReady);
    EXPECT_EQ(Lines(),
              (QStringList{"OK: QX4SelectTag", "OK: QX4StayQuiet", "OK: QX4ResetToReady"}));
    view()->OnClear();
    Command(idm::GetSystemInfo);
    EXPECT_EQ(Lines(),
              (QStringList{"OK: QX4GetSystemInfo", "0F 78 56 34 12 00 01 04 E0 00 00 1B 03 01 ",
                           "DSFID: 00 ", "UID: E0 04 01 00 12 34 56 78 ", "AFI値: 00 "}));
    // Flags announcing nothing: no ETX byte shown as a DSFID.
    reader->Modify([](auto&, std::vector<qx4sim::Tag>& field) { field[0].infoFlags = 0; });
    view()->OnClear();
    Command(idm::GetSystemInfo);
    EXPECT_EQ(Lines(), (QStringList{"OK: QX4GetSystemInfo", "00 78 56 34 12 00 01 04 E0 ",
                                    "DSFID: ", "UID: E0 04 01 00 12 34 56 78 ", "AFI値: "}));
}

TEST_F(ScreenTest, AfiAndDsfidWrites) {
    Answer(Fields({"300"}));
    Command(idm::WriteAfi);
    EXPECT_EQ(Lines(), (QStringList{"OK: QX4WriteAFI", "bdata: 44"}));
    EXPECT_EQ(reader->Field()[0].afi, 44);
    Command(idm::LockAfi);
    Answer(Fields({"5"}));
    Command(idm::WriteAfi);
    const QString locked = "The specified block is locked and its content cannot be changed.";
    EXPECT_EQ(Lines().mid(3), (QStringList{"Error: QX4WriteAFI", "bdata: 5", locked}));
    Answer(Fields({"7"}));
    Command(idm::WriteDsfid);
    EXPECT_EQ(Lines().mid(6), (QStringList{"OK: QX4WrietDSFID", "bdata: 7"}));
    Command(idm::LockDsfid);
    Command(idm::LockDsfid);
    EXPECT_EQ(Lines().mid(8), (QStringList{"OK: QX4LockDSFID", "Error: QX4LockDSFID",
                                           "The specified block is already -locked and thus "
                                           "cannot be locked again"}));
}

TEST_F(ScreenTest, LocksThenAWriteToTheLockedBlockFails) {
    view()->WriteOptionFlag = 0;
    view()->WriteUidFlag = 1;
    Answer(Fields({"257"}));
    Command(idm::LockBlock);
    EXPECT_EQ(view()->BlockNo, 1);
    EXPECT_EQ(SentByte(2), 0x01);
    Answer(Fields({"10"}));
    Command(idm::Lock2Blocks);
    EXPECT_EQ(SentByte(2), 0x11); // the option flag is forced
    EXPECT_EQ(Lines(), (QStringList{"OK: QX4LockBlock", "OK: QX4Lock2Blocks"}));
    Answer([](ExchangeDialog& dialog) {
        EXPECT_EQ(Text(dialog, 1002), "10");
        SetText(dialog, 1002, "1");
        return true;
    });
    Command(idm::LockBlock);
    // Lock and write failures say why, as the reads do.
    EXPECT_EQ(Lines().mid(2),
              (QStringList{"Error: QX4LockBlock", "The specified block is already -locked and thus "
                                                  "cannot be locked again"}));
    Answer(Fields({"1", "zz"}));
    Command(idm::WriteSingleBlock);
    EXPECT_EQ(Lines().mid(4),
              (QStringList{"Error: QX4WriteSingleBlock",
                           "The specified block is locked and its content cannot be changed."}));
}

TEST_F(ScreenTest, ReaderScreens) {
    Command(idm::RomVersion);
    Command(idm::PowerState);
    Command(idm::ErrorStatus);
    Command(idm::Restart);
    EXPECT_EQ(Lines(), (QStringList{"OK: QX4GetROMVersion", "QX4SIM Ver1.00", "OK: QX4GetPowerDown",
                                    "PowerMode : 00 ", "OK: QX4GetErrorStatus", "ErrCode : 00 ",
                                    "QX4ReStartCommand"}));
    QTest::qWait(50);
    QX4ReadData(); // the restart's answer
    view()->OnClear();
    Answer(Fields({"300"}));
    Command(idm::SetAfi);
    EXPECT_EQ(Lines(), (QStringList{"OK: QX4SetAFIData", "AFI値: 44"}));
    Command(idm::GetAfi);
    EXPECT_EQ(Lines().mid(2), (QStringList{"OK: QX4GetAFIData", "AFI値 : 2C "}));
    Command(idm::TxOff);
    Command(idm::TxOn);
    EXPECT_EQ(Lines().mid(4), (QStringList{"OK : TxOFF", "OK : TxON"}));
    EXPECT_TRUE(reader->Registers().carrier);
}

TEST_F(ScreenTest, UidRegisterAndListScreens) {
    Command(idm::Inventory2);
    for (int i = 0; i < 2; ++i) {
        Answer([](ExchangeDialog& dialog) {
            EXPECT_EQ(Text(dialog, 1002), "1"); // always offered
            SetText(dialog, 1002, "2");
            return true;
        });
        Command(idm::UidData);
    }
    EXPECT_EQ(Lines().last(), "UID: E0 07 00 01 87 65 43 21 ");
    Command(idm::UidNumber);
    EXPECT_EQ(Lines().last(), "受信UID数 : 03 ");
    view()->OnClear();
    reader->Peer().ScriptSilence();
    Command(idm::SetCurrentUid);
    EXPECT_EQ(Lines(),
              (QStringList{"SET UID: E0 07 00 01 87 65 43 21 ", "Error: QX4SetUIDSetCmd"}));
    Command(idm::SetCurrentUid);
    Command(idm::GetCurrentUid);
    EXPECT_EQ(Lines().last(), "UID: E0 07 00 01 87 65 43 21 ");
}

TEST_F(ScreenTest, MydScreens) {
    view()->tagUid = {0x10, 0x32, 0x54, 0x76, 0x98, 0x10, 0x05, 0xE0};
    view()->WriteUidFlag = 1;
    view()->ReadUidFlag = 1;
    Answer(Fields({"2", "abc"}));
    Command(idm::MydWrite);
    EXPECT_EQ(Block(2, 2), (qx4sim::Bytes{'a', 'b', 'c', 0, 0, 0, 0, 0}));
    Answer(Fields({"2"}));
    Command(idm::MydRead);
    EXPECT_EQ(Lines().last(), "data: 61 62 63 00 00 00 00 00 ");
    view()->ReadOptionFlag = 1;
    Answer(Fields({"2"}));
    Command(idm::MydRead);
    EXPECT_EQ(Lines().last(), "data: 00 61 62 63 00 00 00 00 00 ");
    view()->tagUid = {0x78, 0x56, 0x34, 0x12, 0x00, 0x01, 0x04, 0xE0}; // not a my-d tag
    Answer(Fields({"2"}));
    Command(idm::MydRead);
    EXPECT_EQ(
        Lines().mid(Lines().size() - 2),
        (QStringList{"Error: QX4Myd_Read",
                     "The command is not supported, i.e. the request code is not recognised."}));
}

TEST_F(ScreenTest, Presets) {
    reader->Modify([](qx4sim::ReaderRegisters& r, auto&) {
        r.tagMode = 0xFF;
        r.eeprom[24] = 0x03; // word 12 = 0x1203
        r.eeprom[25] = 0x12;
        r.eeprom[32] = 0x01; // word 16 = 0x4001
        r.eeprom[33] = 0x40;
    });
    Command(idm::PresetDefault);
    EXPECT_EQ(Lines(), (QStringList{"OK: QX4SetTagMode", "OK: QX4SetTagMode"}));
    auto r = reader->Registers();
    EXPECT_EQ(r.tagMode, 0xD4);
    EXPECT_EQ(r.Word(12), 0x1205);
    EXPECT_EQ(r.Word(16), 0x0001);
    EXPECT_EQ(r.Word(19) & 0xFF, 4);
    EXPECT_EQ(Stored("TagBlockSize").toInt(), 4);

    view()->OnClear();
    Command(idm::PresetFujitsu);
    EXPECT_EQ(Lines(), QStringList{"OK: QX4SetTagMode"});
    r = reader->Registers();
    EXPECT_EQ(r.tagMode, 0xE4);
    EXPECT_EQ(r.Word(12), 0x120A);
    EXPECT_EQ(r.Word(16), 0x4001);
    EXPECT_EQ(r.Word(19) & 0xFF, 8);
    EXPECT_EQ(view()->TagBlockSize, 8);
    EXPECT_EQ(QX4GetTagBlockSize(), 8);
    EXPECT_EQ(Stored("TagBlockSize").toInt(), 8);
    EXPECT_EQ(view()->tagModeByte, 0xE4);
}

TEST(EvenParity7, SetsBitSevenForAnOddCount) {
    EXPECT_EQ(qx4bench::EvenParity7(0x54), 0xD4);
    EXPECT_EQ(qx4bench::EvenParity7(0x64), 0xE4);
    EXPECT_EQ(qx4bench::EvenParity7(0x03), 0x03);
    EXPECT_EQ(qx4bench::EvenParity7(0x83), 0x03);
}

TEST_F(ScreenTest, ComPortCheckFindsTheReader) {
    qx4sim::PtyPeer mute; // opens, never answers
    ::setenv("QX4_COM1", "/nonexistent/qx4", 1);
    ::setenv("QX4_COM2", mute.DevicePath().c_str(), 1);
    ::setenv("QX4_COM3", reader->DevicePath().c_str(), 1);
    QX4SetCmdWaitTime(300);
    Command(idm::ComPortCheck);
    EXPECT_EQ(
        Lines(),
        (QStringList{"COM1～COM10までチェックします。", "--- しばらくお待ちください ---",
                     "Not Find COM1 : ポートを開けません",
                     "Not Find COM2 : リーダーから応答がありません", "Find COM3 : QX4SIM Ver1.00"}));
    EXPECT_EQ(view()->ComPort, 3);
    EXPECT_EQ(QX4GetPortNum(), 3);
    for (const char* name : {"QX4_COM1", "QX4_COM2", "QX4_COM3"})
        ::unsetenv(name);
}

} // namespace
} // namespace qx4test
