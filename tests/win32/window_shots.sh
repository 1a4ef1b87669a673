#!/usr/bin/env bash
# window_shots.sh WIN_BUILD: pictures of the Windows build's windows under 32-bit Wine on
# a virtual display, into WIN_BUILD/screenshots/: the login, main and backup windows
# from the shot programs (against the peers of scripts/wine-tests.sh, whose settings
# are in the environment), and talvora.exe itself as a user starts it (talvora.png).
set -euo pipefail
win=$1
out="$win/screenshots"
rm -rf "$out"
mkdir -p "$out"
# Backup times are local time and data times China time, as a user in China sees them.
export TZ=Asia/Shanghai
unset QT_QPA_PLATFORM
export WIN OUT
WIN=$win
OUT=$out
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  status=0
  wine "$WIN/bin/main_window_shots.exe" "Z:$OUT" || status=1
  wine "$WIN/bin/backup_windows_shots.exe" "Z:$OUT" || status=1
  wineserver -w
  # The program from a folder of its own, as unpacked: its main window, not signed in.
  app="$WIN/shots-app"
  rm -rf "$app" && mkdir -p "$app"
  cp "$WIN/bin/talvora.exe" "$app/" && cp -r "$WIN/bin/skin" "$app/"
  echo "http://127.0.0.1:9" >"$app/url"
  wine "$app/talvora.exe" >/dev/null 2>&1 &
  program=$!
  shown=0
  for _ in $(seq 120); do
    if grep -qs "main window shown" "$app/logs/Talvora.log"; then shown=1; break; fi
    sleep 0.5
  done
  sleep 3
  import -window root "$OUT/talvora.png" || status=1
  kill $program 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  if [ $shown = 0 ]; then
    echo "talvora.exe did not show its main window"
    tail -n 20 "$app/logs/Talvora.log" 2>/dev/null || true
    status=1
  fi
  exit $status
'
ls "$out"
