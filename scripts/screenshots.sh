#!/usr/bin/env bash
# Pictures of the windows on a virtual display, saved in build/screenshots/:
#   login.png          the login window
#   home.png           the main window's home tab, signed in, with the editions
#   home_phone_qr.png  the mobile invoicing QR panel over the home tab
#   web_app.png        the web application signed in, in the main window
#   backup.png         the data backup tab with local and cloud totals
#   software.png       the software tab: an install running, one failed, a row's panel
#   tray_menu.png      the tray icon's menu (a tray host runs on the virtual display)
#   exit_question.png  the question its 退出 asks
# and the backup and restore windows' pictures where their program is built.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/screenshots
mkdir -p "$out"
[ -f build/CMakeCache.txt ] || cmake -S . -B build -DTALVORA_GUI=ON >/dev/null
targets=(main_window_shots talvora-devservice talvora_skin)
if cmake --build build --target help | grep -c '^\.\.\. backup_windows_shots$' >/dev/null; then
  targets+=(backup_windows_shots)
fi
cmake --build build -j2 --target "${targets[@]}" >/dev/null

# The engine's sandbox needs user namespaces that containers and root runs lack.
export QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu"
unset QT_QPA_PLATFORM
export OUT="$out"
# Backup times are local time and data times China time: show them as a user in China would.
export TZ=Asia/Shanghai
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  # A plain X server has no tray; trayer hosts icons in the top-left corner.
  trayer --edge top --align left --widthtype pixel --width 48 --heighttype pixel \
    --height 28 --transparent false --tint 0xffffff --SetDockType false >/dev/null 2>&1 &
  tray=$!
  sleep 1
  status=0
  build/tests/bin/main_window_shots "$OUT" || status=$?
  for tool in build/tests/bin/backup_windows_shots build/bin/backup_windows_shots; do
    if [ -x "$tool" ]; then "$tool" "$OUT" || status=$?; break; fi
  done
  kill "$tray" 2>/dev/null || true
  exit "$status"
'
