// The menu bar and the accelerators, as data.
#pragma once

#include <span>

namespace qx4bench {

// One menu item. `menu` is the path of its (sub)menu, levels separated by '/';
// an item with id 0 is a separator.
struct MenuItem {
    const char* menu;
    const char* text;
    int id;
    char key = 0;                // its mnemonic letter, unique within its menu
    const char* sends = nullptr; // what it sends, for Help > Commands
};

struct Accelerator {
    const char* keys;
    int id;
};

std::span<const MenuItem> MenuItems();
std::span<const Accelerator> Accelerators();

} // namespace qx4bench
