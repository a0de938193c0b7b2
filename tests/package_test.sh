#!/usr/bin/env bash
# The Debian packages as a user gets them: built, installed with apt-get, then used from
# the installed files only: qx4 --version, man -w, the Python example against qx4sim, a
# C program built with pkg-config; and the Python package installed into a venv from
# ./python, offline, leaving nothing in the source tree. Needs root (apt-get install).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
scripts/package.sh
SUDO=; [ "$(id -u)" -ne 0 ] && SUDO=sudo
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --reinstall ./build-package/*.deb

work=$(mktemp -d)
sim=
cleanup() { [ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
cd "$work"

echo "== qx4 --version, man pages, completion"
/usr/bin/qx4 --version | grep -E "^qx4 [0-9]+\.[0-9]+\.[0-9]+ \(library [0-9]"
man -w qx4 qx4sim QX4Bench
test -f /usr/share/bash-completion/completions/qx4

echo "== the Python examples with the installed package and qx4sim"
env -u PYTHONPATH -u QX4DRV_LIBRARY -u QX4DUMP_LIBRARY -u QX4SIM \
  /usr/bin/python3 "$source_dir/examples/read_tag.py"
env -u PYTHONPATH -u QX4DRV_LIBRARY -u QX4DUMP_LIBRARY -u QX4SIM \
  /usr/bin/python3 "$source_dir/examples/write_tag.py"

echo "== a C program built with pkg-config qx4drv"
cc -o read_tag "$source_dir/examples/read_tag.c" $(pkg-config --cflags --libs qx4drv)
/usr/bin/qx4sim > sim.out &
sim=$!
for _ in $(seq 50); do grep -q export sim.out 2>/dev/null && break; sleep 0.1; done
export $(grep -o 'QX4_COM3=.*' sim.out)
./read_tag 3

echo "== pip install into a venv, offline, nothing left in the tree"
/usr/bin/python3 -m venv --system-site-packages venv
venv/bin/pip install -q --no-build-isolation --no-index "$source_dir/python"
venv/bin/python -c "import qx4; print('venv:', qx4.__version__, qx4.library_version())"
if [ -n "$(git -C "$source_dir" status --porcelain --ignored python)" ]; then
  git -C "$source_dir" status --porcelain --ignored python
  echo "the build left files in python/" >&2
  exit 1
fi
echo "packages: OK"
