#!/usr/bin/env bash
# wine-tests.sh [BUILD_DIR [LINUX_BUILD_DIR]]: the Windows build (platform layer, core,
# the non-window code of account, software and backup, talvora-cli.exe; libraries from
# scripts/cross-deps.sh), cross-built with mingw-w64 into BUILD_DIR (default build-win32),
# its tests run under 32-bit Wine in a fresh prefix with the Chinese code page (936) and
# uninstall entries of the invoicing software, then the end-to-end run of talvora-cli.exe
# (tests/win32/cli_e2e.sh). The native peers (local service, object store) come from the
# Linux build in LINUX_BUILD_DIR (default build), built here when missing.
# Exits with the tests' status.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build-win32}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
linux=${2:-build}
case "$linux" in /*) ;; *) linux="$root/$linux" ;; esac
started=$(date +%s)

# shellcheck source=apt.sh
. scripts/apt.sh
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
if ! installed wine32:i386 || ! installed wine; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $APT_SUDO dpkg --add-architecture i386
  fi
  apt_refresh
  apt_install wine wine32:i386 >/dev/null
fi

prefix=$(bash scripts/cross-deps.sh | tail -n 1)
echo "Windows libraries ready: $(($(date +%s) - started)) s"
# A build folder of the older layout (configured from tests/win32) cannot be reused.
if [ -f "$build/CMakeCache.txt" ] &&
  ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$root/cmake/windows" "$build/CMakeCache.txt"; then
  rm -rf "$build"
fi
cmake -S cmake/windows -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DTALVORA_CROSS_PREFIX="$prefix" >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "Windows build done: $(($(date +%s) - started)) s"
# The native side: the local service, talvora-cli for the cross-build restores, and the
# peer starter of the Windows tests.
if [ ! -f "$linux/CMakeCache.txt" ]; then
  cmake -S . -B "$linux" -DTALVORA_GUI=OFF >/dev/null
fi
cmake --build "$linux" -j "$(nproc)" --target talvora-devservice talvora-cli talvora-test-peers \
  talvora_pe_fixtures

export WINEPREFIX="$build/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
# Chinese locale: Wine derives the ANSI code page (936, GBK) from it.
export LC_ALL=zh_CN.UTF-8
# No Mono or Gecko installers: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Headless unless a test needs a window (those run under xvfb-run below).
unset DISPLAY WAYLAND_DISPLAY

if [ -d "$WINEPREFIX" ]; then
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
fi
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine wineboot --init >/dev/null 2>&1
wineserver -w

# Uninstall entries as the invoicing software and other programs leave them.
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
entry() {
  local key=$1
  shift
  while [ $# -gt 0 ]; do
    wine reg add "$uninstall\\$key" /v "$1" /t REG_SZ /d "$2" /f >/dev/null
    shift 2
  done
}
# Two golden tax disk entries: the first in enumeration order wins.
entry '开票软件V2.0.48' \
  DisplayName '开票软件V2.0.48.190101' \
  DisplayVersion '2.0.48' \
  UninstallString '"C:\Program Files\开票软件\UNWISE.EXE" C:\Program Files\开票软件\INSTALL.LOG'
entry '开票软件V3.0.01' \
  DisplayName '开票软件V3.0.01' \
  UninstallString 'C:\JSP3\UNWISE.EXE'
entry '增值税发票税控开票软件(税控盘版)' \
  DisplayName '增值税发票税控开票软件(税控盘版)' \
  DisplayVersion 'V2.3.10' \
  UninstallString '"C:\K\UNWISE.EXE" C:\K\INSTALL.LOG'
entry '增值税发票开票软件（税务UKey版）' \
  DisplayName '增值税发票开票软件（税务UKey版）' \
  DisplayVersion '3.0.109' \
  UninstallString 'C:\UK\uninst.exe /S'
entry 'Talvora测试应用' \
  DisplayVersion '1.5' \
  DisplayIcon 'C:\App\应用.exe'
# Values of 254 and 255 bytes: with the terminator only the first fits 255 bytes.
entry 'Talvora长值' \
  DisplayVersion "$(printf '9%.0s' $(seq 254))" \
  UninstallString "C:\\$(printf 'a%.0s' $(seq 248)).EXE"
# The tax control disk edition's executable, with its version resource.
mkdir -p "$WINEPREFIX/drive_c/K"
cp "$build/bin/newskkp.exe" "$WINEPREFIX/drive_c/K/newskkp.exe"
wineserver -w

# The peers of the Windows tests run natively; the tests reach them on 127.0.0.1.
peers_out=$(mktemp)
"$linux/bin/talvora-test-peers" >"$peers_out" &
peers=$!
trap 'kill $peers 2>/dev/null || true; wait $peers 2>/dev/null || true; rm -f "$peers_out"; wineserver -k >/dev/null 2>&1 || true' EXIT
for _ in $(seq 100); do
  grep -q '^listening ' "$peers_out" && break
  sleep 0.1
done
export TALVORA_TEST_PEERS="http://$(sed -n 's/^listening //p' "$peers_out" | head -n 1)"

status=0
(cd "$build" && ctest --output-on-failure --timeout 300 -LE window) || status=1
wineserver -w
(cd "$build" && xvfb-run -a ctest --output-on-failure --timeout 300 -L window -LE gui) || status=1
wineserver -k >/dev/null 2>&1 || true

# The windows, in a prefix of their own: their tests write the invoicing software's
# registry entries and company folders into it. The skin names a font Windows lacks; a
# Chinese one in the prefix's font folder renders the texts.
if [ -f "$build/bin/talvora.exe" ]; then
  export WINEPREFIX="$build/wineprefix-windows"
  rm -rf "$WINEPREFIX"
  wine wineboot --init >/dev/null 2>&1
  wineserver -w
  cp /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$WINEPREFIX/drive_c/windows/Fonts/"
  # A crash prints its backtrace and ends the program instead of waiting in a dialog.
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ \
    /d 1 /f >/dev/null
  # The desktop process the set-up started has no display; windows made while it lives
  # are never activated, so the tests start only after that wineserver has ended.
  wineserver -w
  # A failed case runs once more: Wine's window timing on two busy cores at times
  # loses a race the same case wins alone; a real fault fails both times.
  (cd "$build" && xvfb-run -a -s "-screen 0 1280x800x24" \
    ctest --output-on-failure --timeout 300 --repeat until-pass:2 -L gui) || status=1
  wineserver -w
  rm -rf "$build/screenshots"
  bash tests/win32/window_shots.sh "$build" || status=1
  wineserver -w
  echo "talvora.exe under Wine, driven with the mouse and keyboard"
  TZ=Asia/Shanghai bash tests/win32/program_e2e.sh "$build" "$linux" || status=1
  wineserver -k >/dev/null 2>&1 || true
else
  echo "Windows build without Qt: no talvora.exe, its window tests and pictures skipped"
fi

echo "Wine end-to-end run of talvora-cli.exe"
bash tests/win32/cli_e2e.sh "$build" "$linux" || status=1

echo "Wine suite: $(($(date +%s) - started)) s"
exit $status
