// The checker on a field of several tags, with a slow reader and ports that come and go:
// what cannot be undone is asked first, every line says what it went to, nothing holds a
// wait, and a quit ends at once.
#include "bench_fixture.h"
#include "frames_view.h"
#include "result_log.h"
#include "status_panel.h"
#include "texts.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollArea>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <unistd.h>

namespace qx4test {
namespace {

using namespace qx4bench;

constexpr uint8_t kLockAfi = 0x28, kLockDsfid = 0x2A, kLockBlock = 0x22;

class FieldTest : public BenchTest {
  protected:
    QString Status() const { return view()->statusPanel()->Text(); }
    // Tag requests with this ISO 15693 code the simulator received.
    int TagRequests(uint8_t code) const {
        int n = 0;
        for (const auto& frame : reader->Peer().Frames())
            n += frame.size() > 4 && frame[2] == 0x78 && frame[4] == code;
        return n;
    }
};

TEST_F(FieldTest, ADeclinedLockSendsNothingAndSaysSo) {
    Start();
    confirmAnswer = false;
    const size_t frames = reader->Peer().Frames().size();
    Command(idm::LockAfi);
    Answer([](ExchangeDialog& dialog) {
        SetText(dialog, 1002, "3");
        return true;
    });
    Command(idm::LockBlock);
    Command(idm::InitEeprom);
    Command(idm::PresetDefault);
    QTest::qWait(100);
    EXPECT_EQ(reader->Peer().Frames().size(), frames); // nothing at all went out
    ASSERT_EQ(questions.size(), 4);
    EXPECT_TRUE(questions[1].contains("ブロック 3")) << questions[1];
    EXPECT_TRUE(questions[3].contains("EEPROM") && questions[3].contains("チェッカー自身"))
        << questions[3];
    const QStringList lines = AllLines().mid(1);
    ASSERT_EQ(lines.size(), 4) << lines;
    EXPECT_EQ(lines[0], "送信しませんでした: LockAFI（確認で取り消し）");
    EXPECT_EQ(lines[1], "送信しませんでした: LockBlock（確認で取り消し）");
    EXPECT_EQ(reader->Field()[0].afiLocked, false);
}

TEST_F(FieldTest, AnUnaddressedLockWithThreeTagsInTheFieldSaysSoAndLinesNameTheTag) {
    Start();
    Command(idm::Inventory); // one UID shown, three tags answered
    EXPECT_EQ(
        AllLines().mid(1, 4),
        (QStringList{"OK: QX4Inventory", "DSFID: 00 ", "UID: E0 04 01 00 12 34 56 78 ",
                     "応答したタグ: 3（表示は 1 つ。すべては Inventory2 と UIDデータ取得 で）"}));
    confirmAnswer = false;
    Command(idm::LockDsfid);
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains("宛先なし") && questions[0].contains("3 枚のタグすべて"))
        << questions[0];
    EXPECT_EQ(TagRequests(kLockDsfid), 0);

    // Addressed: the question and the line after the outcome name the tag.
    view()->WriteUidFlag = 1;
    confirmAnswer = true;
    Command(idm::LockDsfid);
    ASSERT_EQ(questions.size(), 2);
    EXPECT_TRUE(questions[1].contains("UID E0 04 01 00 12 34 56 78")) << questions[1];
    EXPECT_FALSE(questions[1].contains("枚のタグすべて")) << questions[1];
    EXPECT_EQ(TagRequests(kLockDsfid), 1);
    EXPECT_EQ(AllLines().mid(AllLines().size() - 2),
              (QStringList{"OK: QX4LockDSFID", "→ UID E0 04 01 00 12 34 56 78, DSFID"}));

    // A write says what it wrote; unaddressed to three tags it asks first.
    Answer(Fields({"3", "AB"}));
    Command(idm::WriteSingleBlock);
    EXPECT_EQ(AllLines().last(),
              "→ UID E0 04 01 00 12 34 56 78, ブロック 3, 書き込みデータ 41 42 00 00");
    EXPECT_EQ(questions.size(), 2); // addressed writes do not ask
    view()->WriteUidFlag = 0;
    confirmAnswer = false;
    Answer(Fields({"3", "AB"}));
    Command(idm::WriteSingleBlock);
    ASSERT_EQ(questions.size(), 3);
    EXPECT_TRUE(questions[2].contains("3 枚")) << questions[2];
    Answer(Fields({"2"}));
    Command(idm::ReadSingleBlock);
    EXPECT_EQ(AllLines().last(), "→ 宛先なし, ブロック 2");
    EXPECT_EQ(TagRequests(kLockBlock), 0);
}

TEST_F(FieldTest, ASlowReaderWorksOnceTheTimeOutIsRaisedAndSilenceIsNoOk) {
    qx4sim::SimOptions late;
    late.replyDelayMs = 1200; // later than the fence's wait of 1000 ms
    reader = std::make_unique<qx4sim::SimulatedReader>(late);
    ::setenv("QX4_COM4", reader->DevicePath().c_str(), 1);
    Store("ResponseTimeout", 600);
    Start();
    const QString port = "COM4 (" + QString::fromStdString(reader->DevicePath()) + ")";
    EXPECT_EQ(AllLines().mid(0, 2),
              (QStringList{"NG: Port Open", port + " のリーダーから応答がありません"}));
    QX4SetCmdWaitTime(600);
    Command(idm::RomVersion);
    EXPECT_EQ(Lines().last(), "Error: QX4GetROMVersion");
    const QString reason = AllLines().last();
    EXPECT_TRUE(reason == "送信していません: リーダーとの同期が取れません" ||
                reason == "リーダーから応答がありません（タイムアウト）")
        << reason;

    Answer([](ExchangeDialog& dialog) {
        auto* timeout = qobject_cast<QSpinBox*>(dialog.Control(1032));
        EXPECT_NE(timeout, nullptr);
        if (!timeout) return false;
        EXPECT_EQ(timeout->value(), 600);
        timeout->setValue(2500);
        return true;
    });
    view()->OnComReset();
    EXPECT_EQ(Stored("ResponseTimeout").toInt(), 2500);
    EXPECT_EQ(QX4GetCmdWaitTime(), 2500);
    Command(idm::RomVersion);
    EXPECT_EQ(Lines().mid(Lines().size() - 2),
              (QStringList{"OK: QX4GetROMVersion", "QX4SIM Ver1.00"}));
    Answer([](ExchangeDialog& dialog) {
        auto* timeout = qobject_cast<QSpinBox*>(dialog.Control(1032));
        EXPECT_EQ(timeout ? timeout->value() : -1, 2500); // kept with the port
        return false;
    });
    view()->OnComReset();
}

TEST_F(FieldTest, TheSettingsDialogIsFollowedByTheBoxAndTheStatusBar) {
    Start();
    EXPECT_TRUE(Status().contains("コマンドモード")) << Status();
    Answer([](ExchangeDialog& dialog) {
        Combo(dialog, 1011)->setCurrentIndex(1); // auto-scan
        return true;
    });
    view()->OnOperationMode();
    EXPECT_EQ(reader->Registers().mode, 1);
    EXPECT_TRUE(view()->autoScanBox()->isChecked());
    EXPECT_TRUE(Status().contains("オートスキャンモード")) << Status();
    view()->autoScanBox()->click();
    EXPECT_TRUE(Status().contains("コマンドモード")) << Status();
}

TEST_F(FieldTest, TheBlockSizeNoteBelongsToItsTag) {
    const qx4sim::Uid eight{0x21, 0x43, 0x65, 0x87, 0x01, 0x00, 0x07, 0xE0};
    const qx4sim::Uid four{0x78, 0x56, 0x34, 0x12, 0x00, 0x01, 0x04, 0xE0};
    reader->SetField({qx4sim::Tag::Make(eight, qx4sim::TagType::Iso15693, 8, 28),
                      qx4sim::Tag::Make(four, qx4sim::TagType::Iso15693, 4, 28)});
    Start();
    view()->UidFlag = 1;
    view()->ReadUidFlag = 1;
    std::copy(eight.begin(), eight.end(), view()->tagUid.begin());
    Command(idm::GetSystemInfo);
    // Another tag, of 4-byte blocks: no note from the first one's information.
    std::copy(four.begin(), four.end(), view()->tagUid.begin());
    Answer(Fields({"0"}));
    int before = LineCount();
    Command(idm::ReadSingleBlock);
    QStringList lines = LinesSince(before);
    ASSERT_EQ(lines.size(), 2) << lines;
    EXPECT_TRUE(lines[0].startsWith("OK: ")) << lines;
    // The first tag again: its reply does not fit 4 bytes, and nothing was shown.
    std::copy(eight.begin(), eight.end(), view()->tagUid.begin());
    Answer(Fields({"0"}));
    before = LineCount();
    Command(idm::ReadSingleBlock);
    lines = LinesSince(before);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines[0], "Error: QX4ReadSingleBlock");
    EXPECT_TRUE(lines.last().contains("8 バイト") && !lines.last().contains("表示"))
        << lines.last();
}

TEST_F(FieldTest, NothingHoldsAWait) {
    Start();
    // A dialog's wait is the operator's: the status does not say the reader is awaited.
    QString statusInDialog;
    Answer([&](ExchangeDialog&) {
        statusInDialog = Status();
        return false;
    });
    Command(idm::ReadSingleBlock);
    EXPECT_FALSE(statusInDialog.contains("実行中")) << statusInDialog;

    // The port goes during a wait: no box, Save log disabled, the command ends.
    reader->Peer().Script({{qx4sim::EncodeFrame(0x30, {0x90, 'O', 'K'})}, 1500});
    bool saveEnabled = true;
    QTimer::singleShot(100, [&] {
        saveEnabled = frame->Action(idm::SaveLog)->isEnabled();
        view()->OnSaveLog(); // as the context menu would: refused during the wait
        reader->Peer().Vanish();
    });
    Command(idm::RomVersion);
    for (int i = 0; i < 40 && view()->linkState() != LinkState::Lost; ++i)
        QTest::qWait(50);
    EXPECT_FALSE(saveEnabled);
    EXPECT_TRUE(boxes.isEmpty()) << boxes;
    EXPECT_EQ(view()->linkState(), LinkState::Lost);
    EXPECT_TRUE(Status().contains("切断") && !Status().contains("実行中")) << Status();
    EXPECT_TRUE(frame->Action(idm::SaveLog)->isEnabled());
}

// Ten ports that open and never answer: the scan would take ten time-outs.
class SilentPorts {
  public:
    SilentPorts() {
        for (int n = 1; n <= 10; ++n) {
            peers_.push_back(std::make_unique<qx4sim::PtyPeer>());
            ::setenv(("QX4_COM" + std::to_string(n)).c_str(), peers_.back()->DevicePath().c_str(),
                     1);
        }
    }
    ~SilentPorts() {
        for (int n = 1; n <= 10; ++n)
            ::unsetenv(("QX4_COM" + std::to_string(n)).c_str());
    }

  private:
    std::vector<std::unique_ptr<qx4sim::PtyPeer>> peers_;
};

TEST_F(FieldTest, QuitEndsAPortScanAtOnce) {
    Start();
    for (const bool bySignal : {false, true}) {
        if (bySignal) {
            frame.reset();
            ::setenv("QX4_COM4", reader->DevicePath().c_str(), 1);
            Start();
            QuitOnTerminationSignals();
        }
        SilentPorts silent;
        QX4SetCmdWaitTime(3000);
        QElapsedTimer clock;
        qint64 askedAt = -1;
        QTimer::singleShot(400, [&] {
            askedAt = clock.elapsed();
            if (bySignal)
                ::kill(::getpid(), SIGTERM);
            else
                frame->Action(idm::AppExit)->trigger(); // Ctrl+Q
        });
        clock.start();
        Command(idm::ComPortCheck);
        const qint64 took = clock.elapsed() - askedAt;
        std::printf("scan ended %lld ms after the %s\n", static_cast<long long>(took),
                    bySignal ? "SIGTERM" : "quit");
        EXPECT_GE(askedAt, 0);
        EXPECT_LT(took, 2500) << bySignal;   // one port's time-out is 3000 ms, ten of them 30 s
        EXPECT_EQ(QX4IsOK(), 0) << bySignal; // the port is closed
        EXPECT_LE(Lines().filter("Find COM").size(), 1) << Lines();
    }
    struct sigaction restore {};
    restore.sa_handler = SIG_DFL;
    ::sigaction(SIGTERM, &restore, nullptr);
}

TEST_F(FieldTest, PortsAsTyped) {
    Start();
    qx4sim::SimulatedReader second;
    ::setenv("QX4_COM5", second.DevicePath().c_str(), 1);
    Answer([](ExchangeDialog& dialog) {
        Combo(dialog, 1028)->setEditText("com5");
        return true;
    });
    view()->OnComReset();
    EXPECT_EQ(LinesSince(1), (QStringList{"OK: QX4ComReOpen", "Port: 5"}));
    EXPECT_EQ(QX4GetPortNum(), 5);
    ::unsetenv("QX4_COM5");

    // Nonsense is refused in words; the port stays as it was.
    Answer([](ExchangeDialog& dialog) {
        Combo(dialog, 1028)->setEditText("ttyUSB0");
        return true;
    });
    const int before = int(AllLines().size());
    view()->OnComReset();
    ASSERT_EQ(AllLines().size(), before + 1);
    EXPECT_TRUE(AllLines().last().startsWith("ポート「ttyUSB0」は使えません")) << AllLines().last();
    EXPECT_EQ(Stored("ComPort").toInt(), 5);

    // A device path opens, is stored, and opens again at the next start.
    const QString device = QString::fromStdString(reader->DevicePath());
    Answer([&](ExchangeDialog& dialog) {
        Combo(dialog, 1028)->setEditText(device);
        return true;
    });
    view()->OnComReset();
    EXPECT_EQ(Lines().mid(Lines().size() - 2),
              (QStringList{"OK: QX4ComReOpen", "Port: " + device}));
    EXPECT_EQ(Stored("ComDevice").toString(), device);
    frame.reset();
    ::unsetenv("QX4_COM4");
    Start();
    EXPECT_EQ(Lines().first(), "OK: Port Open");
    EXPECT_TRUE(Status().contains(device)) << Status();
    Command(idm::RomVersion);
    EXPECT_EQ(Lines().last(), "QX4SIM Ver1.00");
    Answer([&](ExchangeDialog& dialog) {
        EXPECT_EQ(Combo(dialog, 1028)->currentText(), device);
        return false;
    });
    view()->OnComReset();
}

TEST_F(FieldTest, TheLogFileKeepsEveryLineAcrossStartsAndRotates) {
    QTemporaryDir dir;
    const QString path = dir.filePath("bench.log");
    Start();
    ASSERT_TRUE(view()->SetLogFile(path));
    Command(idm::RomVersion);
    frame.reset();
    Start(); // kept with the settings, appended to
    EXPECT_EQ(view()->LogFile(), path);
    Command(idm::PowerState);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << lines.join(" | ").toStdString();
    EXPECT_TRUE(lines[0].endsWith("\tOK: QX4GetROMVersion")) << lines[0];
    EXPECT_TRUE(lines[2].endsWith("\tOK: Port Open")) << lines[2];
    EXPECT_TRUE(lines[3].endsWith("\tOK: QX4GetPowerDown")) << lines[3];
    EXPECT_EQ(lines[0].indexOf('\t'), 23); // yyyy-MM-dd HH:mm:ss.zzz
    EXPECT_FALSE(view()->SetLogFile(dir.filePath("no/such/folder/x.log")));

    ResultLog small(dir.filePath("small.log"), 100);
    for (int i = 0; i < 5; ++i)
        small.Append(QDateTime::currentDateTime(), QString(30, QChar('a' + i)));
    EXPECT_TRUE(QFile::exists(dir.filePath("small.log.1")));
    EXPECT_LE(QFile(dir.filePath("small.log")).size(), 100);
}

TEST_F(FieldTest, RepeatTheFramesViewAndHelp) {
    Start();
    QApplication::setActiveWindow(frame.get());
    Command(idm::PowerState);
    const int before = LineCount();
    QTest::keyClick(frame.get(), Qt::Key_F5);
    EXPECT_EQ(LinesSince(before), (QStringList{"OK: QX4GetPowerDown", "PowerMode : 00 "}));

    // Shown, the frames view decodes what went out and came back; hidden, it is left alone.
    QTest::keyClick(frame.get(), Qt::Key_F6);
    ASSERT_TRUE(frame->framesView()->isVisible());
    Command(idm::RomVersion);
    QTest::qWait(3 * FramesView::kFlushPeriodMs);
    const QString shown = frame->framesView()->Text();
    EXPECT_TRUE(shown.contains("-> ReadSetting RomVersion (address 0x00, n 2, data 90 00, sum "
                               "0xE6) | 02 00 4F 02 90 00"))
        << shown;
    EXPECT_TRUE(shown.contains("<- ACK RomVersion")) << shown;
    frame->Action(idm::FramesView)->trigger();
    EXPECT_FALSE(frame->framesView()->isVisible());
    Command(idm::PowerState);
    QTest::qWait(3 * FramesView::kFlushPeriodMs);
    EXPECT_EQ(frame->framesView()->Text(), shown);

    // F1 lists every command with what it sends.
    QString help;
    QTimer::singleShot(100, [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            if (auto* table = dialog->findChild<QTreeWidget*>())
                for (int i = 0; i < table->topLevelItemCount(); ++i)
                    help += table->topLevelItem(i)->text(0) + " = " +
                            table->topLevelItem(i)->text(1) + "\n";
            dialog->close();
        }
    });
    QTest::keyClick(frame.get(), Qt::Key_F1);
    EXPECT_TRUE(help.contains("LockAFI = 0x78 0x28 AFI のロック")) << help; // the window's language
    EXPECT_EQ(help.count('\n'), 43) << help;
}

// Every control Tab reaches says what it is, in the window's language, and has a tooltip;
// the frames view, when shown, too.
TEST_F(FieldTest, EveryTabStopOfTheWindowIsNamed) {
    auto japanese = [](const QString& text) {
        return std::any_of(text.begin(), text.end(),
                           [](QChar c) { return c.unicode() >= 0x3000 && c.unicode() <= 0x9FFF; });
    };
    for (const char* language : {"ja", "en"}) {
        ASSERT_TRUE(UseLanguage(language));
        Start();
        Command(idm::FramesView);
        QApplication::processEvents();
        QWidget* start = view()->resultList();
        QWidget* w = start;
        int stops = 0;
        do {
            w = w->nextInFocusChain();
            const bool tabStop =
                w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus);
            if (!tabStop || w->window() != frame.get()) continue;
            ++stops;
            QString name = w->accessibleName();
            if (auto* button = qobject_cast<QAbstractButton*>(w)) name += button->text();
            const std::string what = std::string(language) + " " + w->metaObject()->className() +
                                     " " + w->objectName().toStdString();
            EXPECT_FALSE(name.isEmpty()) << what;
            EXPECT_FALSE(w->toolTip().isEmpty()) << what;
            if (std::string(language) == "ja") {
                EXPECT_NE(name, "UID table");
                EXPECT_NE(name, "Results");
            } else {
                EXPECT_FALSE(japanese(name) || japanese(w->toolTip()))
                    << what << " " << name.toStdString();
            }
        } while (w != start && stops < 50);
        EXPECT_GE(stops, 9) << language; // six buttons, two lists, the frames
        frame.reset();
    }
    UseLanguage("ja");
}

// Run at scale 2 by ctest too: nothing scrolls but the lists, the newest line in view.
TEST_F(FieldTest, TheFormFitsItsWindowAndTheNewestLineIsInView) {
    Start();
    QWidget* parent = view()->parentWidget();
    for (; parent; parent = parent->parentWidget())
        EXPECT_EQ(qobject_cast<QScrollArea*>(parent), nullptr);
    const QRect screen = frame->screen()->availableGeometry();
    EXPECT_LE(frame->minimumSize().height(), screen.height());
    for (int i = 0; i < 40; ++i)
        view()->AddResultLine(QString::number(i));
    QApplication::processEvents();
    QListWidget* list = view()->resultList();
    const QRect last = list->visualItemRect(list->item(list->count() - 1));
    EXPECT_TRUE(list->viewport()->rect().contains(last)) << last.y();
    EXPECT_LE(view()->height(), frame->height());
}

} // namespace
} // namespace qx4test
