#!/usr/bin/env bash
# Screenshots of the checker against the simulated reader, under Xvfb:
# the main window after a short operator session, and each dialog.
# Writes PNG files into screenshots/ (or the folder given as the first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-screenshots}
mkdir -p "$out"
build=${QX4_BUILD_DIR:-build}
[ -x "$build/tests/qx4bench_screenshots" ] || scripts/build.sh
export XDG_CONFIG_HOME=$(mktemp -d)
xvfb-run -a -s "-screen 0 1024x768x24" "$build/tests/qx4bench_screenshots" "$out"
rm -rf "$XDG_CONFIG_HOME"
ls -1 "$out"
