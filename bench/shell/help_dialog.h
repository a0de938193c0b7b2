// Help > Commands: every menu item with what it sends to the reader.
#pragma once

class QWidget;

namespace qx4bench {

void ShowCommandsHelp(QWidget* parent);

} // namespace qx4bench
