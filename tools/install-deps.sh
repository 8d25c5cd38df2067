#!/usr/bin/env bash
# Installs the Debian packages Pimsel needs to build, run and test; `install-deps.sh fuzz` adds
# the compiler and runtime the fuzz targets need, which nothing else uses.
# Idempotent: asks apt only for what is missing, so a ready machine costs a dpkg query.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config make clang-format
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-qpa-plugins libqt6svg6
  libxcb1-dev libxcb-xinput-dev libxcb-xtest0-dev libxcb-xkb-dev
  libxkbcommon-dev libxkbcommon-x11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # the input-method module: fcitx5's development files, and the daemon its tests and users load it into
  libfcitx5core-dev libfcitx5utils-dev libfcitx5config-dev fcitx5-modules-dev fcitx5 libwayland-dev
  # the module under test on Wayland: compositor, typist, the toolkits' input-method modules
  sway wtype fcitx5-frontend-gtk3 fcitx5-frontend-qt6 qt6-wayland
  # installing and packaging: what checks the installed tree, what computes the package's dependencies
  desktop-file-utils appstream dpkg-dev
  # desktop under test: virtual display, window manager, buses, target apps
  xvfb openbox dbus dbus-x11 at-spi2-core
  python3 python3-gi gir1.2-gtk-3.0 gir1.2-atspi-2.0
  x11-utils xauth fonts-noto-color-emoji fonts-dejavu-core
  chromium firefox-esr
)
if [ "${1:-}" = fuzz ]; then
  # libFuzzer ships in clang's runtime package; llvm brings the symbolizer for readable reports.
  packages+=(clang libclang-rt-14-dev llvm)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
