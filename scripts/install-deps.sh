#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need.
# Idempotent: apt-get runs only when something is missing. A mirror that is mid-sync is
# handled by scripts/apt.sh.
#
# DEPS_PACKAGES (a script-only seam for the tests) replaces the package list and leaves out
# the steps that are not about those packages: the i386 architecture, the locales and the
# node packages.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=apt.sh
. "$here/apt.sh"

packages=(
  build-essential cmake pkg-config ccache clang
  libcurl4-openssl-dev libjsoncpp-dev libssl-dev zlib1g-dev libminizip-dev libqrencode-dev
  libcpp-httplib-dev
  qt6-base-dev qt6-tools-dev qt6-webengine-dev libqt6opengl6-dev
  libgtest-dev libbenchmark-dev
  xvfb xauth x11-utils imagemagick trayer xdotool  # trayer: a tray on the virtual display
  zbar-tools openssl unzip zip xz-utils
  fonts-wqy-microhei locales tzdata
  g++-mingw-w64-i686 binutils-mingw-w64-i686 googletest
  libz-mingw-w64-dev dpkg-dev debian-archive-keyring ninja-build  # ninja: Qt's cross build
  lintian xdg-utils
  systemd  # systemd-analyze checks the package's user units
)

# Windows programs (the invoicing software, the catalogue's installers) run under Wine;
# the program is a 32-bit one in its original form, so Wine's 32-bit loader too.
packages+=(wine)
if [ -z "${DEPS_PACKAGES:-}" ] && [ "$(dpkg --print-architecture)" = amd64 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $APT_SUDO dpkg --add-architecture i386
  fi
  packages+=(wine32:i386)
fi

# Node.js may come from elsewhere on the machine; only install Debian's when it is absent.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi
if [ -n "${DEPS_PACKAGES:-}" ]; then
  read -r -a packages <<<"$DEPS_PACKAGES"
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt_refresh
  apt_install "${missing[@]}"
fi
[ -z "${DEPS_PACKAGES:-}" ] || exit 0

# The tests run part of the program under a Chinese locale.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$' || ! locale -a 2>/dev/null | grep -qi '^zh_CN.gbk$'; then
  SUDO=$APT_SUDO
  $SUDO sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/; s/^# *\(zh_CN.GBK GBK\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.GBK GBK' /etc/locale.gen || echo 'zh_CN.GBK GBK' | $SUDO tee -a /etc/locale.gen >/dev/null
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi

# The object store of the tests and `make run` (devservice/objectstore): node packages
# from the committed lock file, installed again only when the lock file changed.
objectstore="$(cd "$(dirname "$0")/.." && pwd)/devservice/objectstore"
stamp="$objectstore/node_modules/.lock-sha256"
want=$(sha256sum "$objectstore/package-lock.json" | cut -d' ' -f1)
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
  echo "Installing the object store's node packages"
  (cd "$objectstore" && npm ci --no-audit --no-fund --ignore-scripts --loglevel=error)
  echo "$want" >"$stamp"
fi
