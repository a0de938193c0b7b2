#!/usr/bin/env bash
# Builds the Debian packages with dpkg-buildpackage (debian/) from a copy of the tree, into
# build-package/ (or QX4_PACKAGE_DIR): libqx4drv1, libqx4drv-dev, qx4-tools, qx4bench,
# python3-qx4 and their -dbgsym packages, with the .changes file lintian reads.
# Install them with: apt-get install ./build-package/*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# One version for the programs and the packages.
project=$(sed -n 's/^__version__ = "\([0-9.]*\)"/\1/p' python/qx4/_version.py)
changelog=$(dpkg-parsechangelog -S Version)
if [ "$project" != "$changelog" ]; then
  echo "debian/changelog says $changelog, python/qx4/_version.py $project: add a changelog entry" >&2
  exit 1
fi
out=$(realpath -m "${QX4_PACKAGE_DIR:-build-package}")
rm -rf "$out"
mkdir -p "$out/src"

# The files git knows, committed or not (ignored ones and other build folders stay out),
# so the build starts from a clean tree and never writes into this one.
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do
    if [ -e "$file" ] || [ -L "$file" ]; then printf '%s\0' "$file"; fi
  done |
  tar --null -T - -cf - | tar -xf - -C "$out/src"

# The same folder every time, so ccache finds the objects of the previous package build.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
# The distribution's Python builds the distribution's package, whatever else is on PATH.
(cd "$out/src" && PATH=/usr/sbin:/usr/bin:/sbin:/bin:$PATH dpkg-buildpackage -us -uc -b -j"$(nproc)")
ls -1 "$out"/*.deb
