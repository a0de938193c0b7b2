// The checker's main window against a simulated reader, with dialogs answered in code.
#pragma once

#include "control_ids.h"
#include "dialogs.h"
#include "main_frame.h"
#include "panel_view.h"
#include "platform_hooks.h"
#include "qx4drv.h"
#include "settings_store.h"
#include "simulated_reader.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <deque>
#include <functional>
#include <gtest/gtest.h>

namespace qx4test {

using qx4bench::LinkState;

// Fills a dialog's controls; returns false to cancel it.
using DialogAnswer = std::function<bool(qx4bench::ExchangeDialog&)>;

inline void SetText(qx4bench::ExchangeDialog& dialog, int controlId, const QString& text) {
    auto* edit = qobject_cast<QLineEdit*>(dialog.Control(controlId));
    ASSERT_NE(edit, nullptr) << controlId;
    edit->setText(text);
}
inline QString Text(qx4bench::ExchangeDialog& dialog, int controlId) {
    auto* edit = qobject_cast<QLineEdit*>(dialog.Control(controlId));
    return edit ? edit->text() : QString("<no edit %1>").arg(controlId);
}
inline void Click(qx4bench::ExchangeDialog& dialog, int controlId) {
    auto* button = qobject_cast<QAbstractButton*>(dialog.Control(controlId));
    ASSERT_NE(button, nullptr) << controlId;
    button->click();
}
inline bool Checked(qx4bench::ExchangeDialog& dialog, int controlId) {
    auto* button = qobject_cast<QAbstractButton*>(dialog.Control(controlId));
    return button && button->isChecked();
}
inline QComboBox* Combo(qx4bench::ExchangeDialog& dialog, int controlId) {
    return qobject_cast<QComboBox*>(dialog.Control(controlId));
}

// Types the texts into the edits 1002, 1003, 1004 in turn and confirms.
inline DialogAnswer Fields(std::vector<QString> texts) {
    return [texts](qx4bench::ExchangeDialog& dialog) {
        const int edits[] = {1002, 1003, 1004};
        for (size_t i = 0; i < texts.size(); ++i)
            SetText(dialog, edits[i], texts[i]);
        return true;
    };
}

class BenchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(configDir.isValid());
        ::setenv("XDG_CONFIG_HOME", configDir.path().toUtf8().constData(), 1);
        // QSettings reads XDG_CONFIG_HOME once per process; each test gets a fresh store.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir.path());
        QCoreApplication::setOrganizationName("Kessaro Corp");
        QCoreApplication::setApplicationName("QX4Bench");
        reader = std::make_unique<qx4sim::SimulatedReader>();
        ::setenv("QX4_COM4", reader->DevicePath().c_str(), 1);
        qx4bench::InstallPlatformHooks();
        qx4bench::SetMessageBoxHandler([this](const QString& text, const QString& caption) {
            boxes << caption + ": " + text;
        });
    }
    void TearDown() override {
        frame.reset();
        reader.reset();
        qx4bench::SetMessageBoxHandler(nullptr);
        ::unsetenv("QX4_COM4");
    }

    // Starts the checker as the application does: settings read, link opened, window shown.
    void Start() {
        frame = std::make_unique<qx4bench::CMainFrame>();
        view()->dialogRunner = [this](qx4bench::ExchangeDialog& dialog) {
            ++dialogsShown;
            if (answers.empty()) return int(QDialog::Rejected);
            DialogAnswer answer = std::move(answers.front());
            answers.pop_front();
            if (!answer(dialog)) return int(QDialog::Rejected);
            dialog.accept();
            return int(QDialog::Accepted);
        };
        view()->confirmRunner = [this](QMessageBox& box) {
            questions << box.text();
            return confirmAnswer;
        };
        frame->show();
        WaitForOpen();
        QX4SetCmdWaitTime(400);
    }
    // The port opens off the GUI thread once the window is up.
    void WaitForOpen() {
        QApplication::processEvents();
        for (int i = 0; i < 200 && (view()->Busy() || view()->linkState() == LinkState::Opening);
             ++i)
            QTest::qWait(25);
    }
    qx4bench::CQX4PanelView* view() const { return frame->view(); }

    void Answer(DialogAnswer answer) { answers.push_back(std::move(answer)); }
    void Command(int id) {
        QAction* action = frame->Action(id);
        ASSERT_NE(action, nullptr) << id;
        action->trigger();
    }
    // The result lines the command screens define; AllLines() also has the checker's
    // own (what a command went to, why it failed).
    QStringList Lines(bool own = false) const {
        QStringList lines;
        for (int i = 0; i < view()->resultList()->count(); ++i) {
            const QListWidgetItem* item = view()->resultList()->item(i);
            if (own || !item->data(qx4bench::CQX4PanelView::kOwnLineRole).toBool())
                lines << item->text();
        }
        return lines;
    }
    QStringList AllLines() const { return Lines(true); }
    // The lines added since `before` lines were there.
    QStringList LinesSince(int before) const { return Lines().mid(before); }
    int LineCount() const { return int(Lines().size()); }
    // The UID table's rows: the text shown and the count of row `row`.
    int UidRows() const { return view()->uidTableView()->topLevelItemCount(); }
    QString UidText(int row) const {
        const QTreeWidgetItem* item = view()->uidTableView()->topLevelItem(row);
        return item ? item->text(1) : QString("<no row %1>").arg(row);
    }
    QString CountText(int row) const {
        const QTreeWidgetItem* item = view()->uidTableView()->topLevelItem(row);
        return item ? item->text(0) : QString("<no row %1>").arg(row);
    }
    static QVariant Stored(const char* key) {
        QSettings settings;
        settings.beginGroup(qx4bench::kSettingsSection);
        return settings.value(key);
    }
    static void Store(const char* key, const QVariant& value) {
        QSettings settings;
        settings.beginGroup(qx4bench::kSettingsSection);
        settings.setValue(key, value);
    }
    // The last frame that was not a read the checker makes after a command (the reader's
    // mode, the count of tags after an inventory).
    qx4sim::Bytes LastWrite() const {
        const auto frames = reader->Peer().Frames();
        for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
            const bool modeRead = *it == qx4sim::EncodeFrame(0x4F, {0x00});
            const bool count = it->size() > 4 && (*it)[2] == 0x78 && (*it)[4] == 0xF0;
            if (!modeRead && !count) return *it;
        }
        return {};
    }
    qx4sim::Bytes LastSent() const {
        const auto frames = reader->Peer().Frames();
        return frames.empty() ? qx4sim::Bytes{} : frames.back();
    }

    QTemporaryDir configDir;
    std::unique_ptr<qx4sim::SimulatedReader> reader;
    std::unique_ptr<qx4bench::CMainFrame> frame;
    std::deque<DialogAnswer> answers;
    int dialogsShown = 0;
    QStringList questions;     // asked before irreversible commands
    bool confirmAnswer = true; // and answered so
    QStringList boxes;
};

} // namespace qx4test

// gtest prints QStrings readably.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << text.toStdString();
}
inline void PrintTo(const QStringList& list, std::ostream* out) {
    *out << "[" << list.join(" | ").toStdString() << "]";
}
// Messages of failed expectations take QStrings too.
inline std::ostream& operator<<(std::ostream& out, const QString& text) {
    return out << text.toStdString();
}
inline std::ostream& operator<<(std::ostream& out, const QStringList& list) {
    return out << "[" << list.join(" | ").toStdString() << "]";
}
QT_END_NAMESPACE
