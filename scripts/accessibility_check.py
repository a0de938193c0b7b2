#!/usr/bin/python3
"""Lists what a screen reader sees of the running QX4Bench (through AT-SPI), then opens
every dialog as a screen-reader user would (the menu item's or button's action), walks it
and cancels it. Reports controls without an accessible name, fields whose name is not a
label shown in their dialog, and radio buttons outside a named group. Run by
scripts/accessibility.sh."""
import sys
import threading
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


# What opens each dialog: (role, name) of a menu item or form button.
DIALOG_OPENERS = [("menu item", "ReadSingleBlock"), ("menu item", "WriteSingleBlock"),
                  ("menu item", "ReadMultiBlock"), ("menu item", "WriteMultiBlock"),
                  ("menu item", "環境設定..."), ("menu item", "Inventory_設定あり"),
                  ("menu item", "UIDデータ取得"), ("menu item", "SetAFI"),
                  ("push button", "COM再設定"), ("push button", "RFﾓｰﾄﾞ"),
                  ("push button", "設定..."), ("push button", "Write...")]
CANCEL_NAMES = {"Cancel", "キャンセル"}
PLACEHOLDER = "データ（文字列）"


def find(node, role, name):
    try:
        if node.getRoleName() == role and node.name == name:
            return node
        children = list(node)
    except Exception:
        return None
    for child in children:
        if child is not None:
            found = find(child, role, name)
            if found is not None:
                return found
    return None


def nodes(node):
    try:
        children = list(node)
    except Exception:
        return
    yield node
    for child in children:
        if child is not None:
            yield from nodes(child)


def check_dialog(dialog, problems):
    labels = {n.name for n in nodes(dialog) if n.getRoleName() == "label" and n.name}
    for n in nodes(dialog):
        role, name = n.getRoleName(), n.name
        if role == "text" and n.parent.getRoleName() != "combo box":
            if not name or name == PLACEHOLDER or name not in labels:
                problems.append(f"{dialog.name}: field named \"{name}\", labels {sorted(labels)}")
        if role == "combo box" and not name:
            problems.append(f"{dialog.name}: combo box without a name")
        if role == "radio button":
            group = n.parent
            if group.getRoleName() not in ("panel", "grouping", "filler") or not group.name:
                problems.append(f"{dialog.name}: radio button {name} outside a named group")


def press(node):
    try:
        node.queryAction().doAction(0)
    except Exception:
        pass


def walk_dialogs(app):
    """Opens, walks and cancels every dialog; returns the problems found."""
    problems = []
    for role, name in DIALOG_OPENERS:
        opener = find(app, role, name)
        if opener is None:
            problems.append(f"no {role} {name}")
            continue
        before = len(list(app))
        # The action returns only when the (modal) dialog closes, and its reply may never
        # come at all: press it from a thread and take the dialog's appearance as the answer.
        pressing = threading.Thread(target=press, args=(opener,), daemon=True)
        pressing.start()
        dialog = None
        for _ in range(40):
            time.sleep(0.25)
            windows = list(app)
            if len(windows) > before:
                dialog = windows[-1]
                break
        if dialog is None:
            problems.append(f"{name}: no dialog opened")
            continue
        seen, unnamed = [], []
        walk(dialog, 1, seen, unnamed)
        print(f"dialog \"{dialog.name}\" (from {name}):")
        for depth, r, n in seen:
            print("  " * depth + f"{r}: {n}")
        problems += [f"{dialog.name}: {r} without a name" for r in unnamed]
        check_dialog(dialog, problems)
        cancel = next((n for n in nodes(dialog)
                       if n.getRoleName() == "push button" and n.name in CANCEL_NAMES), None)
        if cancel is None:
            problems.append(f"{dialog.name}: no cancel button")
            return problems
        cancel.queryAction().doAction(0)
        pressing.join(10)
        time.sleep(0.3)
    return problems


def main():
    app = find_app(sys.argv[1] if len(sys.argv) > 1 else "QX4Bench")
    if app is None:
        print("QX4Bench is not on the accessibility bus")
        return 1
    time.sleep(1)  # the port opens after the window shows
    seen, unnamed = [], []
    walk(app, 0, seen, unnamed)
    for depth, role, name in seen:
        print("  " * depth + f"{role}: {name}")
    print(f"{len(seen)} accessible objects, {len(unnamed)} shown controls without a name")
    problems = walk_dialogs(app)
    for problem in problems:
        print("problem:", problem)
    print(f"{len(DIALOG_OPENERS)} dialogs walked, {len(problems)} problems")
    return 1 if unnamed or problems else 0


if __name__ == "__main__":
    sys.exit(main())
