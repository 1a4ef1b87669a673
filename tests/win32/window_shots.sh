#!/usr/bin/env bash
# window_shots.sh WIN_BUILD: pictures of the Windows build's windows under 32-bit Wine on
# a virtual display with Qt's Windows platform, into WIN_BUILD/screenshots/: the login
# and main windows (main_window_shots) and the backup and restore windows
# (backup_windows_shots), against the peers of scripts/wine-tests.sh, whose settings
# are in the environment.
set -euo pipefail
win=$1
out="$win/screenshots"
mkdir -p "$out"
# Backup times are local time and data times China time, as a user in China sees them.
export TZ=Asia/Shanghai
unset QT_QPA_PLATFORM
export WIN=$win OUT=$out
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  status=0
  wine "$WIN/bin/main_window_shots.exe" "Z:$OUT" || status=1
  wine "$WIN/bin/backup_windows_shots.exe" "Z:$OUT" || status=1
  exit $status
'
