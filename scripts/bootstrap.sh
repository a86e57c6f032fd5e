#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; only the missing ones.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  clang-14 libclang-rt-14-dev clang-format
  libssl-dev openssl libcurl4-openssl-dev libpugixml-dev libarchive-dev nlohmann-json3-dev
  libpng-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xrdp freerdp2-x11 xvfb
  xvfb libxss1 libgtk-3-dev
  libglib2.0-0 gsettings-desktop-schemas squid gss-ntlmssp libkrb5-dev
  duktape-dev binutils
  libnl-genl-3-dev
  xdg-utils shared-mime-info desktop-file-utils libfile-mimeinfo-perl curl
  libp11-dev libp11-kit-dev softhsm2 opensc
  chromium iperf3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all packages present"
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
