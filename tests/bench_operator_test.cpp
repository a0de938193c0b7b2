// The checker as an operator meets it: one command at a time, a window that never
// freezes, a status bar and a result log that say what happened.
#include "bench_fixture.h"
#include "status_panel.h"
#include "texts.h"

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QMap>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qx4test {
namespace {

using namespace qx4bench;

// Dialogs for every screen that has one, with the command that opens it.
const std::pair<int, const char*> kDialogCommands[] = {
    {idm::ReadSingleBlock, "ReadSingleBlock"},
    {idm::ReadMultiBlock, "ReadMultiBlock"},
    {idm::WriteMultiBlock, "WriteMultiBlock"},
    {idm::EnvSettings, "EnvSettings"},
    {idm::InventoryWithSettings, "InventoryWithSettings"}};

class OperatorTest : public BenchTest {
  protected:
    QString Status() const { return view()->statusPanel()->Text(); }
};

TEST_F(OperatorTest, ACommandChosenDuringAWaitIsRefusedWithoutALine) {
    Start();
    reader->Peer().Script({{qx4sim::EncodeFrame(0x30, {0x90, 'O', 'W', 'N'})}, 300});
    bool romEnabled = true, comResetEnabled = true, exitEnabled = false, busyCursor = false;
    QString status;
    QTimer::singleShot(50, [&] {
        romEnabled = frame->Action(idm::RomVersion)->isEnabled();
        comResetEnabled = view()->Control(idc::ComReset)->isEnabled();
        exitEnabled = frame->Action(idm::Exit)->isEnabled();
        busyCursor = QApplication::overrideCursor() &&
                     QApplication::overrideCursor()->shape() == Qt::BusyCursor;
        status = Status();
        Command(idm::PowerState);                // as a second click would
        view()->OnCommand(idm::ReadSingleBlock); // no dialog inside the wait
        qobject_cast<QPushButton*>(view()->Control(idc::ComReset))->click();
    });
    const int before = LineCount();
    const size_t framesBefore = reader->Peer().Frames().size();
    Command(idm::RomVersion);
    EXPECT_FALSE(romEnabled);
    EXPECT_FALSE(comResetEnabled);
    EXPECT_TRUE(exitEnabled);
    EXPECT_TRUE(busyCursor);
    EXPECT_TRUE(status.contains("ROMバージョン取得") && status.contains("COM4")) << status;
    EXPECT_EQ(LinesSince(before), (QStringList{"OK: QX4GetROMVersion", "OWN"}));
    EXPECT_EQ(reader->Peer().Frames().size(), framesBefore + 1); // only the ROM request
    EXPECT_EQ(dialogsShown, 0);
    EXPECT_TRUE(frame->Action(idm::RomVersion)->isEnabled());
    EXPECT_TRUE(view()->Control(idc::ComReset)->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(OperatorTest, DoubleClickOnAutoScanLeavesBoxAndReaderAgreeing) {
    // A reader that answers late, so that the second click lands during the first's wait.
    qx4sim::SimOptions late;
    late.replyDelayMs = 60;
    reader = std::make_unique<qx4sim::SimulatedReader>(late);
    ::setenv("QX4_COM4", reader->DevicePath().c_str(), 1);
    Start();
    QCheckBox* box = view()->autoScanBox();
    EXPECT_FALSE(box->isChecked());
    const QPoint inside(6, box->height() / 2);
    for (int round = 0; round < 3; ++round) {
        QTimer::singleShot(30, [&] { QTest::mouseClick(box, Qt::LeftButton, {}, inside); });
        QTest::mouseClick(box, Qt::LeftButton, {}, inside);
        EXPECT_EQ(box->isChecked(), reader->Registers().mode == 1) << round;
        EXPECT_EQ(box->isChecked(), round % 2 == 0) << round; // one click counted
        EXPECT_TRUE(box->isEnabled());
    }
    // After a restart of the reader (and a new start of the checker) the box follows too.
    reader->Modify([](qx4sim::ReaderRegisters& r, auto&) { r.mode = 1; });
    frame.reset();
    Start();
    EXPECT_TRUE(view()->autoScanBox()->isChecked());
    EXPECT_TRUE(Status().contains("オートスキャンモード")) << Status();
}

// A server that takes the connection and never says a word.
struct SilentServer {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;
    SilentServer() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(listener, 4) == 0 &&
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
    }
    ~SilentServer() { ::close(listener); }
};

TEST_F(OperatorTest, OpeningASilentNetworkPortKeepsTheWindowResponsive) {
    Start();
    SilentServer server;
    ASSERT_NE(server.port, 0);
    ::setenv("QX4_COM5", QString("rfc2217://127.0.0.1:%1").arg(server.port).toUtf8(), 1);
    Answer([](ExchangeDialog& dialog) {
        Combo(dialog, 1028)->setCurrentIndex(4);
        return true;
    });
    int ticks = 0;
    qint64 longestGap = 0, last = 0;
    QElapsedTimer clock;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        longestGap = std::max(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    clock.start();
    timer.start(10);
    QString statusDuring;
    QTimer::singleShot(500, [&] { statusDuring = Status(); });
    const int before = LineCount();
    qobject_cast<QPushButton*>(view()->Control(idc::ComReset))->click();
    timer.stop();
    RecordProperty("longest_gui_gap_ms", int(longestGap));
    std::printf("longest gap between 10 ms ticks while opening: %lld ms over %d ticks\n",
                static_cast<long long>(longestGap), ticks);
    EXPECT_GE(ticks, 50); // the open took seconds and the GUI thread ran throughout
    EXPECT_TRUE(statusDuring.contains("接続中")) << statusDuring;
    const QStringList lines = LinesSince(before);
    ASSERT_EQ(lines.size(), 3) << lines;
    EXPECT_EQ(lines[0], "Error: QX4ComReOpen");
    EXPECT_EQ(lines[1], "Port: 5");
    EXPECT_TRUE(lines[2].startsWith("COM5 (rfc2217://127.0.0.1:")) << lines[2];
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join(" / ").toStdString(); // in the list instead
    EXPECT_TRUE(Status().contains("COM5") && Status().contains("未接続")) << Status();
    ::unsetenv("QX4_COM5");
}

TEST_F(OperatorTest, AutoScanDataKeepsComingWhileACommandsDialogIsOpen) {
    reader->SetAutoScanPeriod(50);
    Start();
    view()->autoScanBox()->click();
    ASSERT_TRUE(view()->autoScanBox()->isChecked());
    int during = 0;
    Answer([&](ExchangeDialog&) {
        const int before = view()->uidCount ? view()->uidTable[0].count : 0;
        QTest::qWait(700);
        during = (view()->uidCount ? view()->uidTable[0].count : 0) - before;
        return false;
    });
    Command(idm::ReadSingleBlock);
    EXPECT_GT(during, 0); // the frame's timer went on feeding the table
    view()->autoScanBox()->click();
}

TEST_F(OperatorTest, APortHeldByAnotherProgramIsNamedWithTheReason) {
    // Another checker holds the port as the library does: open and locked.
    const int other = ::open(reader->DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    Start();
    ::close(other);
    ASSERT_EQ(LineCount(), 2);
    EXPECT_EQ(Lines()[0], "NG: Port Open");
    EXPECT_EQ(Lines()[1], QString("COM4 (%1): %1 は別のプログラムが使用中です")
                              .arg(QString::fromStdString(reader->DevicePath())));
    EXPECT_TRUE(Status().contains("未接続")) << Status();
}

TEST_F(OperatorTest, ALostPortWritesItsLineAndTheStatusBarFollows) {
    Start();
    EXPECT_TRUE(Status().contains("COM4 (" + QString::fromStdString(reader->DevicePath()) + ")"))
        << Status();
    EXPECT_TRUE(Status().contains("9600 bps") && Status().contains("オープン") &&
                Status().contains("コマンドモード"))
        << Status();
    reader->Peer().Vanish();
    for (int i = 0; i < 60 && view()->linkState() != LinkState::Lost; ++i)
        QTest::qWait(50);
    ASSERT_EQ(view()->linkState(), LinkState::Lost);
    const QString line = Lines().last();
    EXPECT_TRUE(line.startsWith("COM4 (") && line.contains("COM再設定")) << line;
    EXPECT_TRUE(Status().contains("切断")) << Status();
    EXPECT_EQ(view()->resultList()->item(LineCount() - 1)->foreground().color(),
              QColor(0xB0, 0x00, 0x20)); // told apart from the OK lines
}

TEST_F(OperatorTest, TheTagCountOfTheStatusBarFollowsTheTable) {
    Start();
    view()->AddUidEntry("E004010000000001");
    view()->AddUidEntry("E004010000000002");
    view()->AddUidEntry("E004010000000001");
    EXPECT_TRUE(Status().contains("タグ: 2")) << Status();
    qobject_cast<QPushButton*>(view()->Control(idc::Clear))->click();
    EXPECT_TRUE(Status().contains("タグ: 0")) << Status();
}

TEST_F(OperatorTest, SelectedLinesGoToTheClipboardAndTheLogToAFile) {
    Start();
    Command(idm::RomVersion);
    QListWidget* list = view()->resultList();
    ASSERT_EQ(LineCount(), 3);
    list->item(1)->setSelected(true);
    list->item(2)->setSelected(true);
    QApplication::clipboard()->clear();
    QApplication::setActiveWindow(frame.get());
    list->setFocus();
    QTest::keyClick(frame.get(), Qt::Key_C, Qt::ControlModifier);
    const QStringList copied = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(copied.size(), 2) << QApplication::clipboard()->text();
    EXPECT_TRUE(copied[0].endsWith("\tOK: QX4GetROMVersion")) << copied[0];
    EXPECT_TRUE(copied[1].endsWith("\tQX4SIM Ver1.00")) << copied[1];
    EXPECT_FALSE(list->item(0)->toolTip().isEmpty()); // the time of each line

    QTemporaryDir dir;
    const QString path = dir.filePath("log.txt");
    ASSERT_TRUE(view()->SaveLog(path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList saved = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(saved.size(), 3);
    EXPECT_TRUE(saved[0].endsWith("\tOK: Port Open"));
    EXPECT_FALSE(view()->SaveLog(dir.filePath("no/such/folder/log.txt")));
    EXPECT_NE(frame->Action(idm::SaveLog), nullptr);
}

TEST_F(OperatorTest, TheHundredLineRuleKeepsACommandsLinesTogether) {
    Start();
    view()->OnClear();
    for (int i = 1; i <= 98; ++i)
        view()->AddResultLine(QString::number(i));
    Command(idm::Inventory); // three lines from line 99
    EXPECT_EQ(Lines(),
              (QStringList{"OK: QX4Inventory", "DSFID: 00 ", "UID: E0 04 01 00 12 34 56 78 "}));
    // Outside a command the rule stays as it was.
    for (int i = view()->resultList()->count() + 1; i <= 100; ++i)
        view()->AddResultLine(QString::number(i));
    view()->AddResultLine("101");
    EXPECT_EQ(Lines(), QStringList{"101"});
}

TEST_F(OperatorTest, TagsWithLongerBlocksAreNamedWithTheirData) {
    const qx4sim::Uid uid{0x21, 0x43, 0x65, 0x87, 0x01, 0x00, 0x07, 0xE0};
    reader->SetField({qx4sim::Tag::Make(uid, qx4sim::TagType::Iso15693, 8, 28)});
    Start();
    Command(idm::Inventory);
    Command(idm::GetSystemInfo);
    Answer([](ExchangeDialog& dialog) {
        SetText(dialog, 1002, "0");
        return true;
    });
    const int before = LineCount();
    Command(idm::ReadSingleBlock);
    const QStringList lines = LinesSince(before);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().contains("8 バイト")) << lines;
}

TEST_F(OperatorTest, TypedValuesAreStoredOnceConfirmedNotOnlyAtExit) {
    Start();
    Answer([](ExchangeDialog& dialog) {
        SetText(dialog, 1002, "7");
        SetText(dialog, 1003, "abc");
        return true;
    });
    Command(idm::WriteSingleBlock);
    EXPECT_EQ(Stored("BlockNo").toInt(), 7); // a killed checker keeps them too
    EXPECT_EQ(Stored("WrStr1").toString(), "abc");
    Answer([](ExchangeDialog& dialog) {
        SetText(dialog, 1002, "9");
        return false;
    });
    Command(idm::ReadSingleBlock);
    EXPECT_EQ(Stored("BlockNo").toInt(), 7); // cancelled: nothing taken
}

TEST_F(OperatorTest, EveryDialogNamesItsFieldsAfterTheirLabelsAndGroupsItsRadios) {
    Start();
    int checked = 0;
    for (const auto& [command, name] : kDialogCommands) {
        Answer([&, name = name](ExchangeDialog& dialog) {
            dialog.show();
            for (QLineEdit* edit : dialog.findChildren<QLineEdit*>()) {
                if (qobject_cast<QComboBox*>(edit->parentWidget())) continue;
                QAccessibleInterface* face = QAccessible::queryAccessibleInterface(edit);
                const QString accessible = face ? face->text(QAccessible::Name) : QString();
                bool labelled = false;
                for (QLabel* label : dialog.findChildren<QLabel*>())
                    if (label->buddy() == edit && label->isVisible())
                        labelled = accessible == label->text().remove('&');
                EXPECT_TRUE(labelled) << name << ": " << accessible.toStdString();
                EXPECT_NE(accessible, Tr("データ（文字列）")) << name;
                ++checked;
            }
            for (QRadioButton* radio : dialog.findChildren<QRadioButton*>())
                EXPECT_NE(qobject_cast<QGroupBox*>(radio->parentWidget()), nullptr)
                    << name << ": " << radio->text().toStdString();
            return false;
        });
        view()->OnCommand(command);
    }
    EXPECT_GE(checked, 7);
}

// No label or button narrower than its text, in English (run at scale 1 and 2 by ctest).
TEST_F(OperatorTest, EnglishTextsFitTheirControls) {
    ASSERT_TRUE(UseLanguage("en"));
    Start();
    auto fits = [](QWidget* root, const char* where) {
        for (QWidget* w : root->findChildren<QWidget*>()) {
            if (!w->isVisible()) continue;
            QString text;
            int around = 0;
            if (auto* label = qobject_cast<QLabel*>(w)) {
                if (label->wordWrap() || dynamic_cast<StatusPanel*>(label->parentWidget()))
                    continue; // the status bar's fields are laid out by it
                text = label->text();
            } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                text = button->text().remove('&');
                if (!qobject_cast<QPushButton*>(w)) // room for the indicator
                    around = w->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
                             w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
            }
            if (text.isEmpty() || text.contains('<')) continue;
            EXPECT_GE(w->width(), w->fontMetrics().horizontalAdvance(text) + around)
                << where << ": \"" << text.toStdString() << "\"";
        }
    };
    fits(frame.get(), "main window");
    for (const auto& [command, name] : kDialogCommands) {
        Answer([&, name = name](ExchangeDialog& dialog) {
            dialog.show();
            QApplication::processEvents();
            fits(&dialog, name);
            return false;
        });
        view()->OnCommand(command);
    }
    for (int button : {idc::ComReset, idc::OperationMode}) {
        Answer([&](ExchangeDialog& dialog) {
            dialog.show();
            QApplication::processEvents();
            fits(&dialog, "form button dialog");
            return false;
        });
        qobject_cast<QPushButton*>(view()->Control(button))->click();
    }
    UseLanguage("ja");
}

// The letter after '&' in a menu text (0 when there is none).
QChar MnemonicLetter(const QString& text) {
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&') continue;
        if (text[i + 1] != '&') return text[i + 1].toUpper();
        ++i; // "&&" is an ampersand
    }
    return QChar();
}

// Every item of `menu` and its submenus has a letter of its own within its menu.
void ExpectMnemonics(QWidget* menu, const QString& path, int& items) {
    QMap<QChar, QString> taken;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) continue;
        ++items;
        const QString text = action->text();
        const QChar letter = MnemonicLetter(text);
        EXPECT_FALSE(letter.isNull()) << (path + text).toStdString();
        EXPECT_FALSE(taken.contains(letter))
            << (path + text).toStdString() << " and " << taken.value(letter).toStdString();
        taken[letter] = text;
        if (action->menu()) ExpectMnemonics(action->menu(), path + text + " > ", items);
    }
}

TEST_F(OperatorTest, MenusHaveMnemonicsAndTheWindowFitsTheScreen) {
    for (const char* language : {"ja", "en"}) {
        ASSERT_TRUE(UseLanguage(language));
        Start();
        int items = 0;
        ExpectMnemonics(frame->menuBar(), "", items);
        EXPECT_GE(items, 60) << language;
        const QRect screen = frame->screen()->availableGeometry();
        EXPECT_LE(frame->frameGeometry().height(), screen.height());
        EXPECT_LE(frame->frameGeometry().width(), screen.width());
        frame.reset();
    }
    UseLanguage("ja");
    Start();
    // Japanese texts take the letter after them; Latin ones mark their own; the keys show.
    EXPECT_EQ(frame->menuBar()->actions().first()->text(), "ファイル(&F)");
    EXPECT_EQ(frame->Action(idm::Exit)->text(), "終了(&X)\tCtrl+Q");
    EXPECT_EQ(frame->Action(idm::EnvSettings)->text(), "環境設定(&E)...");
    EXPECT_EQ(frame->Action(idm::ReadSingleBlock)->text(), "&ReadSingleBlock");
    EXPECT_EQ(frame->Action(idm::RepeatLast)->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(frame->Action(idm::HelpCommands)->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_EQ(frame->Action(idm::FramesView)->shortcut(), QKeySequence(Qt::Key_F6));
}

TEST_F(OperatorTest, F10OpensTheMenuBar) {
    Start();
    QApplication::setActiveWindow(frame.get());
    frame->activateWindow();
    QTest::keyClick(frame.get(), Qt::Key_F10);
    EXPECT_EQ(frame->menuBar()->activeAction(), frame->menuBar()->actions().first());
    QTest::keyClick(frame->menuBar(), Qt::Key_Escape);
}

TEST_F(OperatorTest, ALongDataLineIsViewedInRowsOfSixteenBytes) {
    Start();
    std::vector<uint8_t> bytes(248);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i);
    view()->ShowHexLine("data: ", bytes.data(), int(bytes.size()));
    QString shown;
    QTimer::singleShot(100, [&] {
        QWidget* viewer = QApplication::activeModalWidget();
        ASSERT_NE(viewer, nullptr);
        if (auto* text = viewer->findChild<QPlainTextEdit*>()) shown = text->toPlainText();
        viewer->close();
    });
    view()->ShowLineViewer(LineCount() - 1);
    const QStringList rows = shown.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 1 + 16) << shown; // a heading, then 15 full rows and one of 8
    EXPECT_EQ(rows[0], "data: 248 bytes");
    EXPECT_EQ(rows[1], "0000  00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  ................");
    EXPECT_EQ(rows[3], "0020  20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F   !\"#$%&'()*+,-./");
    EXPECT_EQ(rows[16], "00F0  F0 F1 F2 F3 F4 F5 F6 F7                          ........");
}

#ifdef QX4BENCH_PROGRAM
// SIGTERM closes the program as an exit does: window geometry and the typed values stored.
TEST(OperatorProgram, SettingsSurviveSigterm) {
    QTemporaryDir home;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", home.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(QX4BENCH_PROGRAM, {"--simulate"});
    ASSERT_TRUE(program.waitForStarted(5000));
    QTest::qWait(1500);
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    QSettings stored(home.path() + "/Kessaro Corp/QX4Bench.conf", QSettings::IniFormat);
    EXPECT_FALSE(stored.value("Window/Geometry").toByteArray().isEmpty())
        << stored.allKeys().join(' ').toStdString();
    stored.beginGroup(kSettingsSection);
    EXPECT_TRUE(stored.contains("BlockNo")) << stored.allKeys().join(' ').toStdString();
}
#endif

} // namespace
} // namespace qx4test
