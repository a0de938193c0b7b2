// The checker's dialogs run for real (exec) and answered as an operator would: typing,
// Enter, Esc, the buttons. And the form as it grows, scrolls and speaks English.
#include "bench_fixture.h"
#include "texts.h"

#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>

namespace qx4test {
namespace {

using namespace qx4bench;

class DialogTest : public BenchTest {
  protected:
    // Starts the checker with dialogs shown modally, as the application shows them.
    void StartForReal() {
        Start();
        view()->dialogRunner = nullptr;
    }
    // Runs `act` on the dialog once it is open (inside its exec).
    void WhenOpen(std::function<void(ExchangeDialog&)> act) {
        auto* timer = new QTimer(frame.get());
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, timer, [this, timer, act, tries = 300]() mutable {
            auto* dialog = dynamic_cast<ExchangeDialog*>(QApplication::activeModalWidget());
            if (!dialog && --tries > 0) return;
            timer->stop();
            timer->deleteLater();
            if (!dialog) return;
            ++opened;
            act(*dialog);
        });
        timer->start();
    }
    static void TypeInto(QWidget* widget, const QString& text) {
        widget->setFocus();
        if (auto* combo = qobject_cast<QComboBox*>(widget)) widget = combo->lineEdit();
        QTest::keyClick(widget, Qt::Key_A, Qt::ControlModifier); // select what stands there
        QTest::keyClicks(widget, text);
    }
    int opened = 0;
};

TEST_F(DialogTest, DataEntryTypedThenEnterOrEsc) {
    StartForReal();
    WhenOpen([](ExchangeDialog& d) {
        TypeInto(d.Control(1002), "3");
        QTest::keyClick(d.Control(1002), Qt::Key_Return);
    });
    const int before = LineCount();
    Command(idm::ReadSingleBlock);
    ASSERT_EQ(opened, 1);
    EXPECT_EQ(LinesSince(before).value(0), "OK: QX4ReadSingleBlock");
    EXPECT_EQ(LastSent()[5], 3); // the block typed
    EXPECT_EQ(view()->BlockNo, 3);

    WhenOpen([](ExchangeDialog& d) {
        TypeInto(d.Control(1002), "7");
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    const int lines = LineCount();
    Command(idm::ReadSingleBlock);
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(LineCount(), lines); // cancelled: no call, no line
    EXPECT_EQ(view()->BlockNo, 3);
}

TEST_F(DialogTest, TypedTextThatIsNoEntryGivesTheEmptySelectionAndAddsNothing) {
    StartForReal();
    // Environment: the UID choice typed as "3" and confirmed with Enter in the combo box.
    int entries = -1;
    WhenOpen([&](ExchangeDialog& d) {
        QComboBox* combo = Combo(d, 1023);
        TypeInto(combo, "3");
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        entries = combo->count();
        if (d.isVisible()) Click(d, idc::Ok);
    });
    Command(idm::EnvSettings);
    EXPECT_EQ(entries, 3);
    EXPECT_EQ(Stored("UidFlag").toInt(), -1);

    // Operation mode: "5" typed; the reader gets the empty selection (255), not mode 5.
    WhenOpen([&](ExchangeDialog& d) {
        QComboBox* combo = qobject_cast<QComboBox*>(d.findChild<QComboBox*>("modeCombo"));
        TypeInto(combo, "5");
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        entries = combo->count();
        if (d.isVisible()) Click(d, idc::Ok);
    });
    view()->OnOperationMode();
    EXPECT_EQ(entries, 5);
    EXPECT_NE(reader->Registers().mode, 5);
    EXPECT_EQ(LastWrite()[5], 0xFF);

    // Inventory settings: typed text selects none of the three UID choices.
    auto* inventory = static_cast<CInventorySettingsDlg*>(nullptr);
    WhenOpen([&](ExchangeDialog& d) {
        inventory = static_cast<CInventorySettingsDlg*>(&d);
        QComboBox* combo = d.findChild<QComboBox*>("uidCombo");
        TypeInto(combo, "card");
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        entries = combo->count();
        if (d.isVisible()) Click(d, idc::Ok);
        EXPECT_EQ(inventory->uidModeIndex, 255); // the empty selection of this dialog
    });
    Command(idm::InventoryWithSettings);
    EXPECT_EQ(entries, 3);
}

TEST_F(DialogTest, RfComAndInventoryDialogsByTheirButtonsAndKeys) {
    StartForReal();
    const auto frames = reader->Peer().Frames().size();
    WhenOpen([](ExchangeDialog& d) {
        QTest::mouseClick(d.findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    });
    view()->OnRfMode();
    EXPECT_EQ(opened, 1);
    // The RF dialog read the tag mode first; cancelled, nothing is written.
    for (size_t i = frames; i < reader->Peer().Frames().size(); ++i)
        EXPECT_NE(reader->Peer().Frames()[i][2], 0x4E);

    WhenOpen([](ExchangeDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); });
    const int lines = LineCount();
    view()->OnComReset();
    EXPECT_EQ(LineCount(), lines);

    WhenOpen([](ExchangeDialog& d) {
        QTest::mouseClick(d.findChild<QRadioButton*>("slots1"), Qt::LeftButton);
        QTest::mouseClick(d.findChild<QPushButton*>("okButton"), Qt::LeftButton);
    });
    Command(idm::InventoryWithSettings);
    EXPECT_EQ(Lines().mid(lines).value(0), "OK: QX4Inventory");
    EXPECT_EQ(LastWrite()[5] & 0x40, 0x40); // one slot
}

TEST_F(DialogTest, NewestResultLineInViewAfter20And101Lines) {
    Start();
    QListWidget* list = view()->resultList();
    auto lastInView = [&] {
        QApplication::processEvents();
        const QRect row = list->visualItemRect(list->item(list->count() - 1));
        return list->viewport()->rect().contains(row);
    };
    for (int i = 0; i < 20; ++i)
        view()->AddResultLine(QString("line %1").arg(i));
    EXPECT_TRUE(lastInView());
    frame->resize(frame->minimumSize()); // fewer lines fit
    for (int i = 20; i < 40; ++i)
        view()->AddResultLine(QString("line %1").arg(i));
    EXPECT_TRUE(lastInView());
    list->scrollToTop(); // the operator can still scroll back
    EXPECT_FALSE(lastInView());
    while (list->count() < 100)
        view()->AddResultLine("filler");
    view()->AddResultLine("the 101st");
    EXPECT_EQ(list->count(), 1); // the list was full: emptied, as the checker always did
    EXPECT_TRUE(lastInView());
}

TEST_F(DialogTest, LongResultLinesWrapAndNeverScrollTheListSideways) {
    Start();
    QListWidget* list = view()->resultList();
    view()->AddResultLine("The specified block is already -locked and thus cannot be locked again");
    QApplication::processEvents();
    const int fitting = list->count() - 1;
    const int oneRow = list->visualItemRect(list->item(fitting)).height();
    std::vector<uint8_t> bytes(100, 0xA5);
    view()->ShowHexLine("data: ", bytes.data(), int(bytes.size())); // 306 characters
    view()->AddResultLine(QString(150, 'X'));                       // nowhere to break
    for (int i = 0; i < 30; ++i)
        view()->AddResultLine("filler");
    QApplication::processEvents();
    const int hex = fitting + 1, unbroken = fitting + 2;
    ASSERT_EQ(list->item(hex)->text().size(), 306);
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
    auto withinWidth = [&] {
        for (int row : {fitting, hex, unbroken})
            EXPECT_LE(list->visualItemRect(list->item(row)).right(), list->viewport()->width())
                << row;
    };
    withinWidth();
    const int wrapped = list->visualItemRect(list->item(hex)).height();
    EXPECT_GT(wrapped, 2 * oneRow);
    // What does not fit one row is whole in the tooltip.
    EXPECT_TRUE(list->item(unbroken)->toolTip().remove('\n').endsWith(QString(150, 'X')));
    const QRect last = list->visualItemRect(list->item(list->count() - 1));
    EXPECT_TRUE(list->viewport()->rect().contains(last)) << last.y();
    frame->resize(frame->width() + 200, frame->height()); // wider: the lines follow
    QApplication::processEvents();
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
    withinWidth();
    EXPECT_LT(list->visualItemRect(list->item(hex)).height(), wrapped); // fewer rows
}

TEST_F(DialogTest, UidTableRowsStayTogetherAndShowLargeCounts) {
    Start();
    for (int tag = 0; tag < 30; ++tag)
        view()->AddUidEntry(QString("E0040100000000%1").arg(tag, 2, 10, QChar('0')));
    for (int i = 0; i < 1200; ++i)
        view()->AddUidEntry("E004010000000011");
    view()->AddUidDataEntry("E004010000000099", QString("line\none") + QChar(0x7F));
    QTreeWidget* table = view()->uidTableView();
    ASSERT_EQ(UidRows(), 31);
    EXPECT_EQ(CountText(11), "1201");
    EXPECT_GE(table->columnWidth(0), table->fontMetrics().horizontalAdvance("99999"));
    // One line for data holding control bytes, which keep their value and are drawn with
    // glyphs every font has.
    EXPECT_EQ(UidText(30), "E004010000000099[line\\x0Aone\\x7F]");
    EXPECT_EQ(table->topLevelItem(30)->data(1, Qt::UserRole).toString(),
              QString("E004010000000099[line\none") + QChar(0x7F) + "]");
    // Count and UID are one row: they scroll, select and are read together.
    QTest::qWait(50);
    table->scrollToBottom();
    QApplication::processEvents();
    EXPECT_GT(table->verticalScrollBar()->value(), 0);
    EXPECT_EQ(table->columnCount(), 2);
    for (int row : {0, 5, 11, 30})
        EXPECT_EQ(table->visualItemRect(table->topLevelItem(row)).height(),
                  table->visualItemRect(table->topLevelItem(0)).height())
            << row;
}

TEST_F(DialogTest, TheWindowGrowsIntoItsLists) {
    Start();
    QApplication::processEvents();
    const QSize results = view()->resultList()->size(), uids = view()->uidTableView()->size();
    const QSize button = view()->findChild<QPushButton*>("clearButton")->size();
    frame->resize(900, 700);
    QApplication::processEvents();
    EXPECT_GT(view()->resultList()->width(), results.width() + 300);
    EXPECT_GT(view()->resultList()->height(), results.height());
    EXPECT_GT(view()->uidTableView()->width(), uids.width() + 300);
    EXPECT_GT(view()->uidTableView()->height(), uids.height());
    EXPECT_EQ(view()->findChild<QPushButton*>("clearButton")->size(), button);
    EXPECT_GE(frame->minimumSize().width(), 272);
}

TEST_F(DialogTest, EnglishOnRequest) {
    ASSERT_TRUE(UseLanguage("en"));
    Start();
    QStringList menus;
    for (QAction* menu : frame->menuBar()->actions())
        menus << menu->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&ISO15693", "&Extended commands", "&Tools", "&View",
                                  "&Help"}));
    QString title;
    view()->dialogRunner = [&](ExchangeDialog& d) {
        title = d.windowTitle();
        return int(QDialog::Rejected);
    };
    Command(idm::EnvSettings);
    EXPECT_EQ(title, "Environment settings");
    EXPECT_EQ(frame->Action(idm::LockAfi)->statusTip(),
              "0x78 0x28 Lock AFI: permanent, asks first."); // as Help > Commands says it
    // Function names in result lines stay as they are.
    Command(idm::RomVersion);
    EXPECT_EQ(Lines().last(), "QX4SIM Ver1.00");
    EXPECT_TRUE(Lines().contains("OK: QX4GetROMVersion"));
    UseLanguage("ja");
}

TEST_F(DialogTest, ACommandStartedDuringAWaitIsNotRun) {
    Start();
    reader->Peer().Script({{qx4sim::EncodeFrame(0x30, {0x90, 'O', 'W', 'N'})}, 300});
    QTimer::singleShot(50, [this] { Command(idm::PowerState); }); // as a second click would
    const int before = LineCount();
    Command(idm::RomVersion);
    // The second command was not sent, so it has no line; the first gets its answer.
    EXPECT_EQ(LinesSince(before), (QStringList{"OK: QX4GetROMVersion", "OWN"}));
    Command(idm::PowerState); // and runs when chosen again after the wait
    EXPECT_EQ(Lines().mid(before + 2).value(0), "OK: QX4GetPowerDown");
}

} // namespace
} // namespace qx4test
