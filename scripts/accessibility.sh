#!/usr/bin/env bash
# What a screen reader finds in the checker: starts QX4Bench (simulated reader) under
# Xvfb on a private D-Bus session with accessibility on, and walks its AT-SPI tree and
# every dialog (opened through the accessibility actions, then cancelled).
# Needs python3-pyatspi, at-spi2-core, dbus, xvfb (Debian).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QX4_BUILD_DIR:-build}
export XDG_CONFIG_HOME=$(mktemp -d)
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
exec dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately &
  sleep 1
  QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 "$0/bench/QX4Bench" --simulate "$@" &
  app=$!
  status=0
  /usr/bin/python3 scripts/accessibility_check.py QX4Bench || status=$?
  kill $app; wait $app 2>/dev/null || true
  exit $status' "$build" "$@"
