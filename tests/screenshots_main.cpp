// Screenshots of the checker as an operator sees it, against the simulated reader:
// the main window after a short session with auto-scan (with its status bar), the window
// while a command waits, and every dialog in Japanese and English.
// Run under Xvfb by scripts/screenshots.sh.
#include "code_page.h"
#include "control_ids.h"
#include "dialogs.h"
#include "main_frame.h"
#include "panel_app.h"
#include "panel_view.h"
#include "platform_hooks.h"
#include "qx4drv.h"
#include "simulated_reader.h"
#include "texts.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <cstdio>

using namespace qx4bench;

namespace {

QString outDir;

void Save(QWidget* widget, const QString& name) {
    widget->grab().save(outDir + "/" + name + ".png");
    std::printf("%s/%s.png\n", qPrintable(outDir), qPrintable(name));
}

void SetEdit(ExchangeDialog& dialog, int id, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(dialog.Control(id))) edit->setText(text);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    outDir = argc > 1 ? argv[1] : "screenshots";
    QDir().mkpath(outDir);
    app.setOrganizationName("Kessaro Corp");
    app.setApplicationName("QX4Bench");
    LoadResources();
    app.setWindowIcon(QIcon(":/qx4bench.png"));

    qx4sim::SimulatedReader reader;
    reader.SetAutoScanPeriod(100);
    ::setenv("QX4_COM4", reader.DevicePath().c_str(), 1);
    InstallPlatformHooks();

    auto frame = std::make_unique<CMainFrame>();
    CQX4PanelView* view = frame->view();
    frame->show();
    QTest::qWait(200);

    // Every dialog, as it opens: shown, captured, then answered.
    QString nextName;
    std::function<void(ExchangeDialog&)> fill;
    view->dialogRunner = [&](ExchangeDialog& dialog) {
        if (fill) fill(dialog);
        dialog.show();
        QTest::qWait(100);
        Save(&dialog, nextName);
        dialog.accept();
        return int(QDialog::Accepted);
    };
    auto step = [&](const QString& name, int command, std::function<void(ExchangeDialog&)> f = {}) {
        nextName = name;
        fill = std::move(f);
        view->OnCommand(command);
    };

    view->OnCommand(idm::Inventory);
    step("dialog_environment", idm::EnvSettings);
    step("dialog_read_single_block", idm::ReadSingleBlock,
         [](ExchangeDialog& d) { SetEdit(d, 1002, "0"); });
    step("dialog_write_multi_block", idm::WriteMultiBlock, [](ExchangeDialog& d) {
        SetEdit(d, 1002, "4");
        SetEdit(d, 1003, "1");
        SetEdit(d, 1004, "ＱＸ４データ");
    });
    step("dialog_read_multi_block", idm::ReadMultiBlock, [](ExchangeDialog& d) {
        SetEdit(d, 1002, "4");
        SetEdit(d, 1003, "1");
    });
    view->OnCommand(idm::GetSystemInfo);
    step("dialog_inventory_settings", idm::InventoryWithSettings);
    nextName = "dialog_rf_mode";
    fill = {};
    view->OnRfMode();
    nextName = "dialog_operation_mode";
    view->OnOperationMode();
    nextName = "dialog_com_port";
    view->OnComReset();
    nextName = "dialog_write_tag_data";
    fill = [](ExchangeDialog& d) { SetEdit(d, 1002, "タグ"); };
    view->OnWrite();

    // Auto-scan with a tag entering the field.
    view->autoScanBox()->click();
    QTest::qWait(600);
    qx4sim::Tag visitor = qx4sim::Tag::Make({0x99, 0x88, 0x77, 0x66, 0x55, 0x01, 0x04, 0xE0},
                                            qx4sim::TagType::Iso15693, 4, 8);
    const QByteArray text = ToDeviceText("来訪者"); // tag data is Shift-JIS
    std::copy(text.begin(), text.end(), visitor.memory.begin());
    reader.AddTag(visitor);
    QTest::qWait(600);
    view->autoScanBox()->click();
    QTest::qWait(100);
    Save(frame.get(), "main_window");

    // A command waiting for a reader that answers late: disabled commands, the status bar.
    reader.Peer().SetReplyDelay(1200);
    QTimer::singleShot(400, [&] {
        Save(frame.get(), "main_window_busy");
        QMenu* menu = frame->menuBar()->actions().at(2)->menu();
        menu->popup(frame->mapToGlobal(QPoint(120, 20)));
        QTest::qWait(150);
        Save(menu, "menu_busy");
        menu->close();
    });
    view->OnCommand(idm::RomVersion);
    reader.Peer().SetReplyDelay(0);

    // The window stretched: the lists take the room.
    frame->resize(900, 700);
    QTest::qWait(100);
    Save(frame.get(), "main_window_stretched");

    {
        CAboutDlg about(frame.get());
        about.show();
        QTest::qWait(100);
        Save(&about, "dialog_about");
    }

    // English on request: a new window, as after QX4Bench --lang en.
    frame.reset();
    UseLanguage("en");
    frame = std::make_unique<CMainFrame>();
    view = frame->view();
    frame->show();
    QTest::qWait(200);
    view->dialogRunner = [&](ExchangeDialog& dialog) {
        dialog.show();
        QTest::qWait(100);
        Save(&dialog, nextName);
        dialog.reject();
        return int(QDialog::Rejected);
    };
    view->OnCommand(idm::Inventory);
    const std::pair<const char*, int> english[] = {
        {"dialog_environment_en", idm::EnvSettings},
        {"dialog_read_single_block_en", idm::ReadSingleBlock},
        {"dialog_read_multi_block_en", idm::ReadMultiBlock},
        {"dialog_write_multi_block_en", idm::WriteMultiBlock},
        {"dialog_write_single_block_en", idm::WriteSingleBlock},
        {"dialog_inventory_settings_en", idm::InventoryWithSettings},
        {"dialog_uid_number_en", idm::UidData},
        {"dialog_afi_en", idm::SetAfi}};
    for (const auto& [name, command] : english) {
        nextName = name;
        view->OnCommand(command);
    }
    nextName = "dialog_operation_mode_en";
    view->OnOperationMode();
    nextName = "dialog_rf_mode_en";
    view->OnRfMode();
    nextName = "dialog_com_port_en";
    view->OnComReset();
    nextName = "dialog_write_tag_data_en";
    view->OnWrite();
    frame->menuBar()->actions().at(2)->menu()->popup(frame->mapToGlobal(QPoint(120, 20)));
    QTest::qWait(200);
    Save(frame.get(), "main_window_en");
    return 0;
}
