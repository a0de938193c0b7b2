#!/usr/bin/python3
"""Lists what a screen reader sees of the running QX4Bench (through AT-SPI) and reports
controls without an accessible name. Run by scripts/accessibility.sh."""
import sys
import time

import pyatspi

NAMED_ROLES = {"push button", "check box", "radio button", "combo box", "text", "list",
               "menu item", "menu", "page tab", "spin button", "toggle button"}


def find_app(name, patience=20):
    for _ in range(patience * 4):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == name:
                return app
        time.sleep(0.25)
    return None


def walk(node, depth, seen, unnamed):
    try:
        role, name = node.getRoleName(), node.name
    except Exception:
        return
    seen.append((depth, role, name))
    if role in NAMED_ROLES and not name and node.getState().contains(pyatspi.STATE_SHOWING):
        unnamed.append(role)
    for child in node:
        if child is not None:
            walk(child, depth + 1, seen, unnamed)


def main():
    app = find_app(sys.argv[1] if len(sys.argv) > 1 else "QX4Bench")
    if app is None:
        print("QX4Bench is not on the accessibility bus")
        return 1
    seen, unnamed = [], []
    walk(app, 0, seen, unnamed)
    for depth, role, name in seen:
        print("  " * depth + f"{role}: {name}")
    print(f"{len(seen)} accessible objects, {len(unnamed)} shown controls without a name")
    return 1 if unnamed else 0


if __name__ == "__main__":
    sys.exit(main())
