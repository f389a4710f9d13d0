#!/usr/bin/env bash
# Installs every Debian 12 package the build, the run and the tests need.
# Quick when everything is already present: apt is only touched for what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ccache
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools qt6-declarative-private-dev
  qt6-websockets-dev qt6-httpserver-dev libqt6sql6-sqlite qt6-l10n-tools
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtquick-templates qml6-module-qtquick-shapes
  qml6-module-qtqml qml6-module-qtqml-workerscript qml6-module-qtqml-models
  libgl1-mesa-dri libegl1 libxkbcommon-x11-0
  libssl-dev openssl curl iputils-ping procps
  xvfb xauth x11-utils imagemagick
  fonts-noto-cjk fonts-dejavu-core
  g++-mingw-w64-x86-64 wine wine64
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
