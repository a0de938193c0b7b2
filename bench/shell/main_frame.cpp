#include "main_frame.h"

#include "control_ids.h"
#include "dialogs.h"
#include "frames_view.h"
#include "help_dialog.h"
#include "menu_table.h"
#include "panel_view.h"
#include "qx4drv.h"
#include "texts.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QMap>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <algorithm>

namespace qx4bench {
namespace {

constexpr int kDesignedWidth = 540;
constexpr int kDesignedHeight = 640;
constexpr const char* kGeometryKey = "Window/Geometry"; // beside the operator's settings

// Mnemonic letters: a Latin text marks its own letter; a Japanese one, or one without
// the letter, gets "(&X)" after it (before a trailing "...").
QString WithMnemonic(const QString& text, QChar letter) {
    if (letter.isNull()) return text;
    const bool japanese = std::any_of(text.begin(), text.end(), [](QChar c) {
        return (c.unicode() >= 0x3000 && c.unicode() <= 0x9FFF) ||
               (c.unicode() >= 0xFF00 && c.unicode() <= 0xFFEF);
    });
    const int at = japanese ? -1 : int(text.indexOf(letter, 0, Qt::CaseInsensitive));
    if (at >= 0) return QString(text).insert(at, '&');
    QString marked = text;
    const int dots = text.endsWith("...") ? int(text.size()) - 3 : int(text.size());
    return marked.insert(dots, QString("(&") + letter.toUpper() + ')');
}

QChar MnemonicOf(const QString& path, int level) {
    static const QMap<QString, QChar> letters{
        {"ファイル", 'F'},     {"ISO15693", 'I'},     {"Lockコマンド", 'L'}, {"拡張コマンド", 'E'},
        {"EEPROM初期化", 'P'}, {"送信キャリア", 'C'}, {"ツール", 'T'},       {"設定", 'S'},
        {"AFI設定", 'A'},      {"my-d コマンド", 'M'}};
    return letters.value(path.section('/', level, level), QChar());
}

} // namespace

CMainFrame::CMainFrame() {
    setWindowTitle("QX4Panel");
    // On a screen smaller than the form (large scale factors) the lists give way; nothing
    // scrolls but the lists themselves, so the newest result stays in view.
    view_ = new CQX4PanelView(this);
    setCentralWidget(view_);
    framesView_ = new FramesView(this);
    addDockWidget(Qt::BottomDockWidgetArea, framesView_);
    framesView_->hide();
    BuildMenus();
    statusBar()->addWidget(view_->statusPanel(), 1);
    view_->statusPanel()->show();
    view_->onBusyChanged = [this](bool busy) {
        // Everything that would call the library waits for the running command.
        for (QAction* action : findChildren<QAction*>()) {
            const int id = action->property(kCommandIdProperty).toInt();
            if (id >= idm::Inventory2 && id <= idm::Lock2Blocks && id != idm::Exit)
                action->setEnabled(!busy);
            else if (id == idm::About || id == idm::SaveLog || id == idm::LogFile ||
                     id == idm::RepeatLast || id == idm::HelpCommands)
                action->setEnabled(!busy); // a dialog would hold the waiting command
        }
    };
    // F10 opens the menu bar, as Alt does.
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, this, [this] {
        if (!menuBar()->actions().isEmpty()) {
            menuBar()->setFocus(Qt::MenuBarFocusReason);
            menuBar()->setActiveAction(menuBar()->actions().first());
        }
    });
    // Its designed size, roomy enough for the longest result lines, within the screen;
    // the form's drawn size is the minimum. No command bar: it would hold nothing.
    QSize size(std::max({kDesignedWidth, menuBar()->sizeHint().width(),
                         view_->statusPanel()->sizeHint().width() + 60}), // and a long device
               kDesignedHeight);
    if (const QScreen* screen = this->screen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    resize(size);
    // The form's drawn size is the least, unless the screen is smaller.
    QSize least = view_->minimumSize() +
                  QSize(0, menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    if (const QScreen* screen = this->screen())
        least = least.boundedTo(screen->availableGeometry().size() * 9 / 10);
    setMinimumSize(least);
    const QByteArray geometry = QSettings().value(kGeometryKey).toByteArray();
    if (!geometry.isEmpty()) restoreGeometry(geometry);
    timerId_ = startTimer(kTimerPeriodMs);
}

CMainFrame::~CMainFrame() {
    QSettings().setValue(kGeometryKey, saveGeometry());
    if (timerId_) {
        killTimer(timerId_);
        timerId_ = 0;
    }
    delete view_; // the view stores its settings before the link closes
    view_ = nullptr;
    QX4SetHandle(nullptr);
    QX4DllClose();
}

void CMainFrame::BuildMenus() {
    QMap<QString, QMenu*> menus;
    auto menuFor = [&](const QString& path) {
        QString sofar;
        QMenu* parent = nullptr;
        for (const QString& level : path.split('/')) {
            sofar += (sofar.isEmpty() ? "" : "/") + level;
            if (!menus.contains(sofar)) {
                const QString title =
                    WithMnemonic(Tr(level), MnemonicOf(path, int(sofar.count('/'))));
                menus[sofar] = parent ? parent->addMenu(title) : menuBar()->addMenu(title);
            }
            parent = menus[sofar];
        }
        return parent;
    };
    for (const MenuItem& item : MenuItems()) {
        QMenu* menu = menuFor(QString::fromUtf8(item.menu));
        if (item.id == idm::Exit) {
            QAction* save = menu->addAction(Tr("ログを保存(&S)..."));
            save->setProperty(kCommandIdProperty, idm::SaveLog);
            connect(save, &QAction::triggered, this, [this] { OnCommand(idm::SaveLog); });
            QAction* logFile = menu->addAction(Tr("ログをファイルに記録(&L)..."));
            logFile->setProperty(kCommandIdProperty, idm::LogFile);
            logFile->setCheckable(true);
            logFile->setChecked(!view_->LogFile().isEmpty());
            logFile->setToolTip(view_->LogFile());
            connect(logFile, &QAction::triggered, this, [this] { OnCommand(idm::LogFile); });
            QAction* repeat = menu->addAction(Tr("前のコマンドを繰り返す(&R)"));
            repeat->setProperty(kCommandIdProperty, idm::RepeatLast);
            repeat->setShortcut(QKeySequence(Qt::Key_F5));
            connect(repeat, &QAction::triggered, this, [this] { OnCommand(idm::RepeatLast); });
            menu->addSeparator();
        }
        if (item.id == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(WithMnemonic(Tr(item.text), QChar(item.key)));
        action->setProperty(kCommandIdProperty, item.id);
        if (item.sends) action->setStatusTip(Tr(item.sends));
        if (item.id == idm::Exit) action->setText(action->text() + "\tCtrl+Q"); // its accelerator
        const int id = item.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    // The checker's own: the frames on the wire, and what each command sends.
    QMenu* viewMenu = menuBar()->addMenu(Tr("表示(&V)"));
    QAction* frames = viewMenu->addAction(Tr("通信フレーム(&F)"));
    frames->setProperty(kCommandIdProperty, idm::FramesView);
    frames->setCheckable(true);
    frames->setShortcut(QKeySequence(Qt::Key_F6));
    connect(frames, &QAction::toggled, framesView_, &QWidget::setVisible);
    // The dock, not the frame: it is also hidden while the frame is being destroyed.
    connect(framesView_, &QDockWidget::visibilityChanged, frames,
            [dock = framesView_, frames](bool) { frames->setChecked(dock->isVisible()); });
    QMenu* helpMenu = menuBar()->addMenu(Tr("ヘルプ(&H)"));
    QAction* help = helpMenu->addAction(Tr("コマンド(&C)..."));
    help->setProperty(kCommandIdProperty, idm::HelpCommands);
    help->setShortcut(QKeySequence(Qt::Key_F1));
    connect(help, &QAction::triggered, this, [this] { OnCommand(idm::HelpCommands); });
    for (const Accelerator& accelerator : Accelerators()) {
        auto* action = new QAction(this);
        action->setShortcut(QKeySequence(accelerator.keys));
        action->setProperty(kCommandIdProperty, accelerator.id);
        const int id = accelerator.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        addAction(action);
    }
}

QAction* CMainFrame::Action(int commandId) const {
    for (QAction* action : findChildren<QAction*>())
        if (action->property(kCommandIdProperty).toInt() == commandId) return action;
    return nullptr;
}

void CMainFrame::OnCommand(int commandId) {
    switch (commandId) {
    case idm::Exit:
    case idm::AppExit:
        close();
        return;
    case idm::About: {
        if (view_->Busy()) return; // a dialog would hold the waiting command
        CAboutDlg about(this);
        about.exec();
        return;
    }
    case idm::EditCopy:
        view_->CopySelectedLines();
        return;
    case idm::SaveLog:
        view_->OnSaveLog();
        return;
    case idm::LogFile:
        ChooseLogFile();
        return;
    case idm::RepeatLast:
        view_->RepeatLastCommand();
        return;
    case idm::HelpCommands:
        if (!view_->Busy()) ShowCommandsHelp(this);
        return;
    default:
        // New and open find no file format; undo, cut, copy, paste and save have no handler.
        view_->OnCommand(commandId);
    }
}

void CMainFrame::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timerId_) view_->OnTimerTick();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    view_->StopForQuit(); // a running command or port scan ends now, not after its wait
    event->accept();
}

void CMainFrame::ChooseLogFile() {
    QAction* action = Action(idm::LogFile);
    QString path;
    if (view_->LogFile().isEmpty()) {
        path = QFileDialog::getSaveFileName(this, Tr("ログをファイルに記録"), "qx4bench.log",
                                            Tr("テキスト (*.txt *.log);;すべてのファイル (*)"),
                                            nullptr, QFileDialog::DontConfirmOverwrite);
        if (path.isEmpty()) {
            action->setChecked(false);
            return;
        }
    }
    view_->SetLogFile(path); // an empty path stops it
    action->setChecked(!view_->LogFile().isEmpty());
    action->setToolTip(view_->LogFile());
}

} // namespace qx4bench
