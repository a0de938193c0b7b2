#!/usr/bin/env bash
# The Debian packages as a user gets them: built with dpkg-buildpackage, checked by lintian
# (warnings fail), installed with apt-get, used from the installed files only (qx4, the man
# pages, QX4Bench without a display, the Python examples against qx4sim, C programs built
# with pkg-config and with find_package), then purged, leaving nothing behind. Also the
# Python package installed into a venv from ./python, offline, leaving nothing in the
# source tree. Needs root (apt-get install).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
out=$(realpath -m "${QX4_PACKAGE_DIR:-build-package}")
export QX4_PACKAGE_DIR=$out
scripts/package.sh
# Every package built, the -dbgsym ones included.
packages=()
for deb in "$out"/*.deb; do packages+=("$(dpkg-deb -f "$deb" Package)"); done
SUDO=; [ "$(id -u)" -ne 0 ] && SUDO=sudo

echo "== lintian (tags per package; an error or a warning fails)"
lintian -I -E --pedantic --fail-on error,warning --tag-display-limit 0 "$out"/*.changes \
  > "$out/lintian.txt" || { cat "$out/lintian.txt"; echo "lintian failed" >&2; exit 1; }
for package in $(sed -n "s/^Package: //p" debian/control); do
  counts=$(awk -v p="$package" '$2 == p":" { print $1 }' "$out/lintian.txt" |
    sort | uniq -c | awk '{ printf " %s %s", $2, $1 }')
  echo "$package:${counts:- clean}"
done
cat "$out/lintian.txt"

work=$(mktemp -d)
sim=
cleanup() {
  if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== install"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --reinstall "$out"/*.deb >/dev/null
for package in "${packages[@]}"; do dpkg-query -L "$package"; done | sort -u > "$work/files"
cd "$work"

echo "== qx4 --version, man pages, completion, QX4Bench without a display"
/usr/bin/qx4 --version | grep -E "^qx4 [0-9]+\.[0-9]+\.[0-9]+ \(library [0-9]"
man -w qx4 qx4sim QX4Bench
if [ -x /usr/bin/qx4-mqtt ]; then
  /usr/bin/qx4-mqtt --version | grep -E "^qx4-mqtt [0-9]+\.[0-9]+\.[0-9]+"
  man -w qx4-mqtt
fi
test -f /usr/share/bash-completion/completions/qx4
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/QX4Bench --version |
  grep -E "^QX4Bench [0-9]+\.[0-9]+\.[0-9]+"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/QX4Bench --help | grep -- --simulate >/dev/null

echo "== the Python package: metadata and the examples against qx4sim"
python=(env -u PYTHONPATH -u QX4DRV_LIBRARY -u QX4DUMP_LIBRARY -u QX4SIM /usr/bin/python3)
"${python[@]}" -c 'import importlib.metadata as m, qx4; print("qx4", m.version("qx4"))'
for example in "$source_dir"/examples/*.py; do
  echo "-- $(basename "$example")"
  timeout 120 "${python[@]}" "$example"
done

echo "== C programs built with pkg-config and with find_package(QX4DRV)"
test -z "$(pkg-config --cflags qx4drv | xargs)" # /usr/include needs no -I
test "$(pkg-config --libs qx4drv | xargs)" = "-lQX4DRV"
cc -Wall -Wextra -Werror -o read_tag_pc "$source_dir/examples/read_tag.c" \
  $(pkg-config --cflags --libs qx4drv)
mkdir consumer
cat > consumer/CMakeLists.txt <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(QX4DRV 1 REQUIRED)
add_executable(read_tag_cmake "$source_dir/examples/read_tag.c")
target_link_libraries(read_tag_cmake PRIVATE QX4DRV::QX4DRV)
get_target_property(includes QX4DRV::QX4DRV INTERFACE_INCLUDE_DIRECTORIES)
if(NOT includes STREQUAL "/usr/include")
  message(FATAL_ERROR "QX4DRV includes: \${includes}")
endif()
CMAKE
cmake -S consumer -B consumer/build -G Ninja >/dev/null
cmake --build consumer/build >/dev/null
/usr/bin/qx4sim > sim.out &
sim=$!
for _ in $(seq 50); do grep -q export sim.out 2>/dev/null && break; sleep 0.1; done
export "$(grep -o 'QX4_COM3=.*' sim.out)"
./read_tag_pc 3
consumer/build/read_tag_cmake 3
kill "$sim"
wait "$sim" 2>/dev/null || true
sim=

echo "== pip install into a venv, offline, nothing left in the tree"
/usr/bin/python3 -m venv --system-site-packages venv
venv/bin/pip install -q --no-build-isolation --no-index "$source_dir/python"
venv/bin/python -c "import qx4; print('venv:', qx4.__version__, qx4.library_version())"
if [ -n "$(git -C "$source_dir" status --porcelain --ignored python)" ]; then
  git -C "$source_dir" status --porcelain --ignored python
  echo "the build left files in python/" >&2
  exit 1
fi

echo "== purge: nothing of the packages is left"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq "${packages[@]}" >/dev/null
# Files (byte-compiled ones included, through the name search) and the packages' own
# folders must go; folders other packages share (/usr/bin, ...) stay.
left=$(while read -r path; do
  if [ ! -d "$path" ] && { [ -e "$path" ] || [ -L "$path" ]; }; then echo "$path"; fi
done < files)
left+=$(find /usr /etc /var/lib/dpkg/info -iname '*qx4*' 2>/dev/null)
for package in "${packages[@]}"; do
  if dpkg-query -W -f '${db:Status-Abbrev}\n' "$package" 2>/dev/null | grep -qv '^un'; then
    left+=" $package (still known to dpkg)"
  fi
done
if [ -n "$left" ]; then
  echo "left after purge:" >&2
  echo "$left" >&2
  exit 1
fi
echo "packages: OK"
