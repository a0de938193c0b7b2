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
