#include "help_dialog.h"

#include "menu_table.h"
#include "texts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace qx4bench {

void ShowCommandsHelp(QWidget* parent) {
    QDialog dialog(parent);
    dialog.setWindowTitle(Tr("コマンド"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* table = new QTreeWidget(&dialog);
    table->setColumnCount(2);
    table->setHeaderLabels({Tr("メニュー"), Tr("送るもの")});
    table->setRootIsDecorated(false);
    table->setWordWrap(true);
    table->setAccessibleName(Tr("コマンド"));
    for (const MenuItem& item : MenuItems()) {
        if (!item.text) continue;
        QString path;
        for (const QString& level : QString::fromUtf8(item.menu).split('/'))
            path += Tr(level) + " > ";
        new QTreeWidgetItem(table, {path + Tr(item.text), Tr(item.sends ? item.sends : "")});
    }
    table->resizeColumnToContents(0);
    layout->addWidget(table);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(table->columnWidth(0) + 480, 460);
    dialog.exec();
}

} // namespace qx4bench
