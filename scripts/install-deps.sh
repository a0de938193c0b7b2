#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the checker need, when missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  xvfb xauth fonts-noto-cjk imagemagick
  clang libclang-rt-14-dev
  python3 ser2net
  mypy python3-pytest python3-venv python3-setuptools python3-wheel python3-pip help2man dpkg-dev
  file man-db
  libmosquitto-dev mosquitto mosquitto-clients python3-paho-mqtt openssl
  debhelper dh-python pybuild-plugin-pyproject lintian
)
if [ "${1:-}" = "--minimal" ]; then
  packages=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev
            libbenchmark-dev nlohmann-json3-dev libmosquitto-dev python3 ser2net)
fi

# Node.js and npm for the NDEF cross-check against the npm package ndef; a machine whose
# Node.js came with its own npm keeps it.
if [ "${1:-}" != "--minimal" ] && ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi

# The npm package ndef, pinned, into the build folder (nothing outside it). Without the
# registry the cross-check says so and is skipped.
install_npm_ndef() {
  [ "${1:-}" = "--minimal" ] && return 0
  local folder="${QX4_BUILD_DIR:-build}/npm"
  [ -d "$folder/node_modules/ndef" ] && return 0
  command -v npm >/dev/null || return 0
  mkdir -p "$folder"
  npm install --prefix "$folder" --no-save --no-audit --no-fund ndef@0.2.0 >/dev/null ||
    echo "npm install ndef@0.2.0 failed: the NDEF cross-check will say why" >&2
}
trap 'install_npm_ndef "${1:-}"' EXIT

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then SUDO=sudo; else
    echo "Missing packages (${missing[*]}); run this as root to install them." >&2
    exit 1
  fi
fi
${SUDO:-} apt-get update -qq
DEBIAN_FRONTEND=noninteractive ${SUDO:-} apt-get install -y -qq --no-install-recommends "${missing[@]}"
