#include "main_frame.h"

#include "control_ids.h"
#include "dialogs.h"
#include "menu_table.h"
#include "panel_view.h"
#include "qx4drv.h"
#include "texts.h"

#include <QAction>
#include <QCloseEvent>
#include <QMap>
#include <QMenuBar>

namespace qx4bench {
namespace {

constexpr int kDesignedWidth = 540;
constexpr int kDesignedHeight = 640;

} // namespace

CMainFrame::CMainFrame() {
    setWindowTitle("QX4Panel");
    view_ = new CQX4PanelView(this);
    setCentralWidget(view_);
    BuildMenus();
    // Its designed size, roomy enough for the longest result lines; the form's drawn
    // size is the minimum. No command bar: it would hold nothing.
    resize(std::max(kDesignedWidth, menuBar()->sizeHint().width()), kDesignedHeight);
    timerId_ = startTimer(kTimerPeriodMs);
}

CMainFrame::~CMainFrame() {
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
            if (!menus.contains(sofar))
                menus[sofar] = parent ? parent->addMenu(Tr(level)) : menuBar()->addMenu(Tr(level));
            parent = menus[sofar];
        }
        return parent;
    };
    for (const MenuItem& item : MenuItems()) {
        QMenu* menu = menuFor(QString::fromUtf8(item.menu));
        if (item.id == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(Tr(item.text));
        action->setProperty(kCommandIdProperty, item.id);
        const int id = item.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
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
        CAboutDlg about(this);
        about.exec();
        return;
    }
    default:
        // New and open find no file format; undo, cut, copy, paste and save have no handler.
        view_->OnCommand(commandId);
    }
}

void CMainFrame::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timerId_) QX4ReadData();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    event->accept();
}

} // namespace qx4bench
