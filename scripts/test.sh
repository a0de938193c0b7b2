#!/usr/bin/env bash
# Builds everything and runs every test (no hardware needed: the tests talk to
# a simulated reader on a pseudo-terminal).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir "${QX4_BUILD_DIR:-build}" --output-on-failure -j2 --timeout 300
