#!/usr/bin/env bash
# The Debian packages as a user gets them: built with dpkg-buildpackage, checked by lintian
# (warnings fail), installed with apt-get, used from the installed files only (qx4, the man
# pages, QX4Bench without a display, the Python examples against qx4sim, C programs built
# with pkg-config and with find_package), then purged, leaving nothing behind. Also the
# Python package installed into a venv from ./python, offline, leaving nothing in the
# source tree; and a second build in another folder gives the same packages byte for
# byte. Needs root (apt-get install).
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

echo "== the installed packages (debian/tests/installed, also run by autopkgtest)"
(cd "$source_dir" && debian/tests/installed)

echo "== pip install into a venv, offline, nothing left in the tree"
/usr/bin/python3 -m venv --system-site-packages venv
venv/bin/pip install -q --no-build-isolation --no-index "$source_dir/python"
venv/bin/python -c "import qx4; print('venv:', qx4.__version__, qx4.library_version())"
# The venv's own qx4 finds python3-qx4's private libqx4dump on the system's multiarch path.
/usr/bin/qx4sim > sim.out &
sim=$!
for _ in $(seq 50); do grep -q export sim.out 2>/dev/null && break; sleep 0.1; done
device=$(grep -o 'QX4_COM3=.*' sim.out | cut -d= -f2)
env -u QX4DRV_LIBRARY -u QX4DUMP_LIBRARY -u PYTHONPATH venv/bin/python - "$device" <<'PY'
import sys, qx4
assert qx4.__file__.startswith(sys.prefix), qx4.__file__
with qx4.Reader(sys.argv[1]) as reader:
    tag = reader.inventory()
    dump = reader.dump(uid=tag.uid)
dumped = dump["tags"][0]
assert dumped["uid"] == tag.uid_hex, dumped["uid"]
print("venv dump:", dumped["uid"], len(dumped["blocks"]), "blocks")
PY
kill "$sim"
wait "$sim" 2>/dev/null || true
sim=
if [ -n "$(git -C "$source_dir" status --porcelain --ignored python)" ]; then
  git -C "$source_dir" status --porcelain --ignored python
  echo "the build left files in python/" >&2
  exit 1
fi

echo "== the same packages from another folder (the checker left out: no Qt needed)"
again=$(mktemp -d /tmp/qx4-rebuild.XXXXXX)
QX4_PACKAGE_DIR=$again/out DEB_BUILD_PROFILES=pkg.qx4.nobench "$source_dir/scripts/package.sh" >/dev/null
differ=()
for deb in "$again"/out/*.deb; do
  cmp -s "$deb" "$out/$(basename "$deb")" || differ+=("$(basename "$deb")")
done
rm -rf "$again"
if [ ${#differ[@]} -ne 0 ]; then
  echo "not reproducible across build folders: ${differ[*]}" >&2
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
