#!/usr/bin/env bash
# The installed tree: install into a temporary prefix, then build the C example
# against it with pkg-config and with find_package(QX4DRV), and run it.
set -euo pipefail
build=$1
source_dir=$2
prefix=$(mktemp -d)
SIM_PID=
trap 'if [ -n "${SIM_PID:-}" ]; then kill "$SIM_PID" 2>/dev/null || true; fi; rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib/x86_64-linux-gnu/pkgconfig"
cc -o "$prefix/read_tag" "$source_dir/examples/read_tag.c" $(pkg-config --cflags --libs qx4drv)

mkdir -p "$prefix/consumer"
cat > "$prefix/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(QX4DRV REQUIRED)
add_executable(read_tag "$source_dir/examples/read_tag.c")
target_link_libraries(read_tag PRIVATE QX4DRV::QX4DRV)
CMAKE
cmake -S "$prefix/consumer" -B "$prefix/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer/build" >/dev/null

for program in qx4 qx4sim; do [ -x "$prefix/bin/$program" ]; done

# Every command of qx4 has an entry of its own in qx4(1), not a line of a run-on paragraph.
man_page=$prefix/share/man/man1/qx4.1
if [ -f "$man_page" ]; then
  commands=$("$prefix/bin/qx4" help | awk '/^commands:/ { on = 1; next } /^$/ { on = 0 }
                                          on && /^  [a-z]/ { print $1 }')
  [ "$(wc -l <<< "$commands")" -gt 30 ]
  entries=$(grep -A1 -x '\.TP' "$man_page" | sed 's/\\-/-/g')
  for command in $commands; do
    grep -q -E "^$command( |\$)" <<< "$entries" ||
      { echo "qx4(1) has no entry of its own for $command" >&2; exit 1; }
  done
fi
if [ -x "$build/bench/QX4Bench" ]; then
  ls "$prefix"/share/applications/qx4bench.desktop >/dev/null
  # --version and --help print without a display.
  no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
  "${no_display[@]}" "$prefix/bin/QX4Bench" --version | grep -E "^QX4Bench [0-9]+\.[0-9]+" >/dev/null
  "${no_display[@]}" "$prefix/bin/QX4Bench" --help | grep -- --simulate >/dev/null
fi

# Run the pkg-config build against a simulated reader from the installed tree.
coproc SIM { exec "$prefix/bin/qx4sim" 2>/dev/null; }
read -r _ <&"${SIM[0]}"
read -r _ line <&"${SIM[0]}"
export "${line?}"
LD_LIBRARY_PATH="$(dirname "$(find "$prefix" -name 'libQX4DRV.so' | head -1)")" "$prefix/read_tag" 3
kill "$SIM_PID"; wait "$SIM_PID" 2>/dev/null || true
echo "installed tree works"
