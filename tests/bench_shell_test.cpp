// The checker's shell: start-up, settings, connection, mode dialogs, result list, UID table.
#include "bench_fixture.h"

#include <QCheckBox>
#include <QRadioButton>
#include <QThread>
#include <QTimer>

namespace qx4test {
namespace {

using qx4bench::ExchangeDialog;

TEST_F(BenchTest, StartUpWithAnEmptyStore) {
    Start();
    EXPECT_EQ(Lines(), QStringList{"OK: Port Open"});
    EXPECT_EQ(QX4GetPortNum(), 4);
    EXPECT_EQ(QX4GetTagBlockSize(), 4);
    EXPECT_EQ(view()->spped, 1);
    EXPECT_EQ(view()->WriteOptionFlag, 1);
    EXPECT_EQ(view()->comBaudRate, 9600);
    EXPECT_EQ(view()->viewStarted, 1); // the window registered and the carrier switched on
    ASSERT_TRUE(reader->Peer().WaitForFrames(1, 500));
    const auto frames = reader->Peer().Frames();
    EXPECT_NE(std::find(frames.begin(), frames.end(), qx4sim::EncodeFrame(0x4E, {0x9E, 0x01})),
              frames.end()); // carrier on
    // The COM dialog opens on the stored port and rate.
    Answer([](ExchangeDialog& dialog) {
        EXPECT_EQ(Combo(dialog, 1028)->currentText(), "COM4");
        EXPECT_TRUE(Checked(dialog, 1030));
        return false;
    });
    view()->OnComReset();
    EXPECT_EQ(dialogsShown, 1);
    EXPECT_EQ(LineCount(), 1); // cancelled: nothing shown
}

TEST_F(BenchTest, StartUpWithTheReaderMissing) {
    ::setenv("QX4_COM4", "/nonexistent/reader", 1);
    Start();
    ASSERT_EQ(LineCount(), 2);
    EXPECT_EQ(Lines().first(), "NG: Port Open");
    // Then the port, its device and why it did not open.
    EXPECT_TRUE(Lines()[1].startsWith("COM4 (/nonexistent/reader): ")) << Lines()[1];
    EXPECT_GT(Lines()[1].size(), QString("COM4 (/nonexistent/reader): ").size());
    EXPECT_EQ(view()->linkState(), LinkState::Closed);
    Command(qx4bench::idm::Inventory);
    EXPECT_EQ(Lines().last(), "Error: QX4Inventory");
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(BenchTest, ComDialogReopensAndStores) {
    Start();
    qx4sim::SimulatedReader second;
    ::setenv("QX4_COM2", second.DevicePath().c_str(), 1);
    Answer([](ExchangeDialog& dialog) {
        Combo(dialog, 1028)->setCurrentIndex(1);
        Click(dialog, 1031);
        return true;
    });
    view()->OnComReset();
    EXPECT_EQ(LinesSince(1), (QStringList{"OK: QX4ComReOpen", "Port: 2"}));
    EXPECT_EQ(Stored("ComPort").toInt(), 2);
    EXPECT_EQ(Stored("spped").toInt(), 0);
    EXPECT_EQ(QX4GetPortNum(), 2);
    Answer([](ExchangeDialog& dialog) {
        EXPECT_EQ(Combo(dialog, 1028)->currentText(), "COM2");
        EXPECT_TRUE(Checked(dialog, 1031));
        // A port beyond the list is taken as typed, neither port 256 nor the stored one.
        Combo(dialog, 1028)->setEditText("COM77");
        return true;
    });
    view()->OnComReset();
    EXPECT_TRUE(Lines().contains("Port: 77")) << Lines();
    EXPECT_EQ(Stored("ComPort").toInt(), 77);
    ::unsetenv("QX4_COM2");
}

TEST_F(BenchTest, RfModeBitMapping) {
    Start();
    Answer([](ExchangeDialog& dialog) { // 0x54 read from the reader
        EXPECT_EQ(Combo(dialog, 1023)->currentText(), "IOS15693(1/4)");
        EXPECT_TRUE(Checked(dialog, 1025)); // 100%
        EXPECT_TRUE(Checked(dialog, 1026)); // FSK
        EXPECT_TRUE(Checked(dialog, 1029)); // High
        return true;
    });
    view()->OnRfMode();
    EXPECT_EQ(reader->Registers().tagMode, 0x54);
    EXPECT_EQ(Lines().last(), "OK: QX4SetTagMode");

    reader->Modify([](qx4sim::ReaderRegisters& r, auto&) { r.tagMode = 0x02; });
    Answer([](ExchangeDialog& dialog) {
        EXPECT_EQ(Combo(dialog, 1023)->currentText(), "IOS15693(1/256)");
        return true;
    });
    view()->OnRfMode();
    EXPECT_EQ(reader->Registers().tagMode, 0x0C);

    Answer([](ExchangeDialog& dialog) {
        Combo(dialog, 1023)->setCurrentIndex(0);
        Click(dialog, 1009); // EEPROM
        return true;
    });
    view()->OnRfMode();
    EXPECT_EQ(reader->Registers().tagMode, 0x04);
    EXPECT_EQ(LastSent(), qx4sim::EncodeFrame(0x4E, {0x19, 0x04}));
}

TEST_F(BenchTest, OperationModeBitMapping) {
    Start();
    reader->Modify([](qx4sim::ReaderRegisters& r, auto&) { r.mode = 0x50; });
    Answer([](ExchangeDialog& dialog) {
        EXPECT_EQ(Combo(dialog, 1011)->currentText(), "連続インベントリ");
        EXPECT_TRUE(Checked(dialog, 1012)); // buzzer
        EXPECT_TRUE(Checked(dialog, 1015)); // data+UID
        EXPECT_TRUE(Checked(dialog, 1014)); // 9600
        EXPECT_TRUE(Checked(dialog, 350));  // 単独
        EXPECT_TRUE(Checked(dialog, 361));  // 連続読取り
        return true;
    });
    view()->OnOperationMode();
    EXPECT_EQ(LinesSince(1), (QStringList{"OK: QX4GetRWMode", "OK: QX4SetRWMode"}));
    EXPECT_EQ(LastWrite(), qx4sim::EncodeFrame(0x4E, {0x00, 0x50, 0x00, 0x78, 0x01, 0x00, 0x0A}));

    reader->Modify([](qx4sim::ReaderRegisters& r, auto&) { r.mode = 4; });
    Answer([](ExchangeDialog& dialog) {
        EXPECT_EQ(Combo(dialog, 1011)->currentText(), "連続インベントリ");
        return true;
    });
    view()->OnOperationMode();
    EXPECT_EQ(reader->Registers().mode, 0x50);

    Answer([](ExchangeDialog& dialog) {
        Combo(dialog, 1011)->setCurrentIndex(3); // ポーリングモード
        Click(dialog, 1012);                     // buzzer off
        return true;
    });
    view()->OnOperationMode();
    EXPECT_EQ(reader->Registers().mode, 3);
    EXPECT_EQ(reader->Registers().flags, 0x68);
}

TEST_F(BenchTest, AutoScanCountsNotificationsInTheUidTable) {
    reader->SetAutoScanPeriod(50);
    Start();
    view()->autoScanBox()->click();
    EXPECT_EQ(Lines().last(), "OK: QX4SetRWMode");
    EXPECT_EQ(reader->Registers().mode, 1);
    EXPECT_EQ(reader->Registers().valueLow, 0);
    // The frame's 200 ms timer feeds the table.
    for (int i = 0; i < 40 && view()->uidCount < 3; ++i)
        QTest::qWait(50);
    QTest::qWait(400);
    ASSERT_EQ(view()->uidCount, 3);
    EXPECT_EQ(UidText(0), "E004010012345678[QX4 tag one]");
    EXPECT_EQ(UidText(1), "E007000187654321[]");
    EXPECT_GT(CountText(0).toInt(), 1); // counted in place
    reader->SetAutoScanPeriod(2);       // notifications keep landing while the mode is set
    QTest::qWait(20);
    view()->autoScanBox()->click();
    EXPECT_EQ(Lines().last(), "OK: QX4SetRWMode");
    EXPECT_EQ(reader->Registers().mode, 0);
}

TEST_F(BenchTest, WriteButtonSendsTagData) {
    Start();
    Answer([](ExchangeDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "タグデータの書き込み");
        SetText(dialog, 1002, "abc");
        return true;
    });
    view()->OnWrite();
    EXPECT_EQ(LinesSince(1), (QStringList{"OK: QX4WriteTagData", "datanum: 3"}));
    EXPECT_EQ(reader->Registers().tagData, (qx4sim::Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(view()->WrString, "abc");
}

TEST_F(BenchTest, ResultListHoldsAHundredLines) {
    Start();
    view()->OnClear();
    for (int i = 1; i <= 100; ++i)
        view()->AddResultLine(QString::number(i));
    EXPECT_EQ(LineCount(), 100);
    view()->AddResultLine("101");
    EXPECT_EQ(Lines(), QStringList{"101"});
}

TEST_F(BenchTest, DisplayOperations) {
    Start();
    const uint8_t two[2] = {0x01, 0xAB};
    view()->ShowHexLine("data: ", two, 2);
    EXPECT_EQ(Lines().last(), "data: 01 AB ");
    const uint8_t uid[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    view()->ShowHexLineReversed("UID: ", uid, 8);
    EXPECT_EQ(Lines().last(), "UID: 88 77 66 55 44 33 22 11 ");
    view()->ShowHexLine("data: ", two, 0);
    EXPECT_EQ(Lines().last(), "data: ");
    EXPECT_EQ(qx4bench::CQX4PanelView::ParseDecimalText("  12abc"), 12);
    EXPECT_EQ(qx4bench::CQX4PanelView::ParseDecimalText("abc"), 0);
    EXPECT_EQ(qx4bench::CQX4PanelView::ParseDecimalText("-3"), -3);
    EXPECT_EQ(qx4bench::CQX4PanelView::ParseDecimalText("99999999999"), 0x7FFFFFFF);
}

TEST_F(BenchTest, LastErrorTexts) {
    Start();
    const std::pair<qx4sim::Bytes, QString> cases[] = {
        {{0x05, 0x0F}, "Unknown error."},
        {{0x05, 0x02}, "he command is not recognised, for example: a format error occurred."},
        {{0x05, 0xA7}, "? 'DF' Custom command error codes"},
        {{0x43}, "コマンドのＩＤ値のエラー"},
        {{0x00}, "??? NACK受信"},
    };
    for (const auto& [nack, text] : cases) {
        // The link checks its step after the previous case's NACK before the next command:
        // that check must not meet the scripted NACK.
        QX4SetTxOnOff(1);
        reader->Peer().Script({{qx4sim::EncodeFrame(0x31, nack)}});
        QX4SetTxOnOff(1);
        view()->ShowLastError();
        EXPECT_EQ(Lines().last(), text);
    }
}

TEST_F(BenchTest, UidTableFromNotifications) {
    Start();
    auto notify = [&](uintptr_t kind, const qx4sim::Bytes& bytes) {
        const QX4CopyData record{kind, static_cast<uint32_t>(bytes.size()), bytes.data()};
        view()->OnCopyData(record);
    };
    const qx4sim::Bytes uidAbc{1, 2, 3, 4, 5, 6, 7, 8, 'A', 'B', 'C'};
    notify(1, uidAbc);
    notify(1, uidAbc);
    notify(1, {1, 2, 3, 4, 5, 6, 7, 8, 'X'});
    notify(0, {'E', '0', '0', '4'});
    notify(0, {}); // count 0
    ASSERT_EQ(view()->uidCount, 4);
    EXPECT_EQ(UidText(0), "0807060504030201[ABC]");
    EXPECT_EQ(CountText(0), "2");
    EXPECT_EQ(UidText(1), "0807060504030201[X]");
    EXPECT_EQ(UidText(2), "E004");
    EXPECT_EQ(UidText(3), "");
    // Shift-JIS data text, and a notification longer than 256 bytes cut to 256.
    notify(1, {9, 9, 9, 9, 9, 9, 9, 9, 0x83, 0x5E, 0x83, 0x4F});
    EXPECT_EQ(UidText(4), "0909090909090909[タグ]");
    // Binary data: every byte, also after a 00, with its ASCII.
    notify(1, {9, 9, 9, 9, 9, 9, 9, 1, 'A', 0x00, 0xFF, 'B'});
    EXPECT_EQ(UidText(5), "0109090909090909[41 00 FF 42 |A..B|]");
    qx4sim::Bytes longer(300, 'z');
    notify(0, longer);
    EXPECT_EQ(UidText(6).size(), 256);
    // A full table drops new tags but keeps counting the ones it has.
    for (int i = view()->uidCount; i < 256; ++i)
        notify(0, {'T', uint8_t('0' + i / 100), uint8_t('0' + i / 10 % 10), uint8_t('0' + i % 10)});
    notify(0, {'n', 'e', 'w'});
    EXPECT_EQ(view()->uidCount, 256);
    EXPECT_EQ(UidRows(), 256);
    notify(0, {'E', '0', '0', '4'});
    EXPECT_EQ(CountText(2), "2");
    view()->OnClear();
    EXPECT_EQ(view()->uidCount, 0);
    EXPECT_EQ(UidRows(), 0);
}

TEST_F(BenchTest, SettingsReadAtStartAndWrittenAtExit) {
    Store("BlockNo", 300);
    Store("WrStr1", "hello");
    Store("TagBlockSize", 8);
    { // a section literally named "para1" is not the checker's
        QSettings settings;
        settings.beginGroup("para1");
        settings.setValue("ComPort", 9);
    }
    Start();
    EXPECT_EQ(view()->BlockNo, 44);
    EXPECT_EQ(view()->ComPort, 4);
    EXPECT_EQ(QX4GetTagBlockSize(), 8);
    frame.reset(); // exit
    EXPECT_EQ(Stored("BlockNo").toInt(), 44);
    EXPECT_EQ(Stored("BlockNum").toInt(), 0);
    EXPECT_EQ(Stored("WrStr1").toString(), "hello");
    EXPECT_EQ(Stored("WrString").toString(), "");
    EXPECT_EQ(QX4IsOK(), 0); // the link closed with the frame
}

TEST_F(BenchTest, EnvironmentDialogParsesAndStores) {
    Start();
    Answer([](ExchangeDialog& dialog) {
        for (int combo : {1023, 1024, 1025})
            EXPECT_EQ(Combo(dialog, combo)->currentText(), "指定しない");
        EXPECT_TRUE(Checked(dialog, 1030));
        EXPECT_TRUE(Checked(dialog, 1033));
        EXPECT_EQ(Text(dialog, 1002), "4");
        Combo(dialog, 1024)->setCurrentIndex(2);
        Click(dialog, 1031);
        SetText(dialog, 1002, " 8");
        return true;
    });
    view()->OnCommand(qx4bench::idm::EnvSettings);
    EXPECT_EQ(Stored("TagBlockSize").toInt(), 8);
    EXPECT_EQ(Stored("ReadUidFlag").toInt(), 2);
    EXPECT_EQ(Stored("ReadOptionFlag").toInt(), 1);
    EXPECT_EQ(QX4GetTagBlockSize(), 8);
    Answer([](ExchangeDialog& dialog) {
        SetText(dialog, 1002, "x");
        Combo(dialog, 1023)->setEditText("nothing");
        return true;
    });
    view()->OnCommand(qx4bench::idm::EnvSettings);
    EXPECT_EQ(Stored("TagBlockSize").toInt(), 0);
    EXPECT_EQ(Stored("UidFlag").toInt(), -1);
    Answer([](ExchangeDialog& dialog) {
        SetText(dialog, 1002, "260");
        return false;
    });
    view()->OnCommand(qx4bench::idm::EnvSettings);
    EXPECT_EQ(Stored("TagBlockSize").toInt(), 0); // cancelled
    EXPECT_EQ(LineCount(), 1);
}

TEST_F(BenchTest, StaysResponsiveWhileACommandTimesOut) {
    Start();
    reader->Peer().ScriptSilence();
    QX4SetCmdWaitTime(300);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        view()->resultList()->viewport()->repaint();
    });
    timer.start(20);
    Command(qx4bench::idm::Inventory);
    EXPECT_EQ(Lines().last(), "Error: QX4Inventory");
    EXPECT_GE(ticks, 5); // the window kept handling its events during the wait
}

TEST_F(BenchTest, MenuCarriesEveryCommandIdentifier) {
    Start();
    for (int id : {32775, 32790, 32781, 32782, 32783, 32784, 32797, 32798, 32823, 32799, 32785,
                   32786, 32787, 32788, 32789, 32827, 32828, 32829, 32830, 32818, 32806, 32807,
                   32808, 32809, 32810, 32811, 32812, 32813, 32814, 32820, 32821, 32804, 32805,
                   32791, 32793, 32794, 32817, 32815, 32825, 32826, 32822, 32795, 57664})
        EXPECT_NE(frame->Action(id), nullptr) << id;
    EXPECT_EQ(frame->Action(32807)->text(), "実　行(&X)");
    EXPECT_EQ(frame->windowTitle(), "QX4Panel");
}

// The receive thread's box for a lost port is not shown (it would hold a command's
// wait); the line and the status bar tell it.
TEST_F(BenchTest, LostPortFromTheReceiveThreadIsToldInTheListNotInABox) {
    Start();
    QThread* shownOn = nullptr;
    qx4bench::SetMessageBoxHandler(
        [&](const QString&, const QString&) { shownOn = QThread::currentThread(); });
    reader->Peer().Vanish();
    for (int i = 0; i < 40 && view()->linkState() != LinkState::Lost; ++i)
        QTest::qWait(50);
    QTest::qWait(200);
    EXPECT_EQ(shownOn, nullptr) << "a box for the lost port";
    EXPECT_EQ(QX4IsOK(), 0);
    EXPECT_TRUE(Lines().last().contains("COM再設定")) << Lines();
}

} // namespace
} // namespace qx4test
