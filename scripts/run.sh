#!/usr/bin/env bash
# The main job: builds and starts the checker QX4Bench. Without a reader on the
# configured port (QX4_READER unset) it runs against the simulated reader.
# On a machine without a display it says so and runs the command-line demonstration.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build=${QX4_BUILD_DIR:-build}

simulate=(--simulate)
[ -n "${QX4_READER:-}" ] && simulate=()

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/bench/QX4Bench" ]; then
  exec "$build/bench/QX4Bench" "${simulate[@]}"
fi
echo "No display here: running the command-line demonstration against the simulated reader instead."
echo "(On a desktop, this command starts the checker window QX4Bench.)"
exec "$build/cli/qx4" --simulate --uid E004010012345678 demo
