#!/usr/bin/env bash
# Builds the Debian packages (CPack) into build-package/: libqx4drv1, libqx4drv-dev,
# qx4-tools, qx4bench, python3-qx4. Install them with: apt-get install ./build-package/*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${QX4_PACKAGE_DIR:-build-package}
QX4_BUILD_DIR=$build scripts/build.sh -DCMAKE_INSTALL_PREFIX=/usr -DQX4_BUILD_TESTS=OFF \
  -DQX4_BUILD_BENCHMARKS=OFF
(cd "$build" && cpack -G DEB)
ls -1 "$build"/*.deb
