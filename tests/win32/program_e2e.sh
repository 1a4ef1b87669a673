#!/usr/bin/env bash
# program_e2e.sh WIN_BUILD LINUX_BUILD: talvora.exe under 32-bit Wine driven as a user
# drives it, with the mouse and keyboard on a virtual display (xdotool), against the
# native local service and object store: it signs in through the login window, backs up
# one company through the backup window, and after that company's folder is deleted
# restores it through the restore window; the folder must come back byte for byte. Runs
# in the prefix of the window tests (WINEPREFIX), which hold the demo companies on C:.
# Pictures of each step go to WIN_BUILD/screenshots/program_*.png.
set -euo pipefail
win=$1
linux=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work="$win/program-e2e"
rm -rf "$work"
mkdir -p "$work/app" "$win/screenshots"
company="$WINEPREFIX/drive_c/Program Files/kp/bin/91110105MA00QRST6W"
if [ ! -f "$company/invoice.db" ]; then
  echo "FAIL no demo company in $WINEPREFIX (the window tests write them)"
  exit 1
fi
# shellcheck source=e2e_support.sh
. "$root/tests/win32/e2e_support.sh"
start_peers "$work" "$linux"

app="$work/app"
cp "$win/bin/talvora.exe" "$app/" && cp -r "$win/bin/skin" "$app/"
echo "$service" >"$app/url"
printf '{"obsEndpoint": "%s", "obsPathStyle": true}\n' "$store" >"$app/settings.json"
(cd "$company" && find . -type f -print0 | sort -z | xargs -0 sha256sum) >"$work/before"

export APP="$app" SHOTS="$win/screenshots" COMPANY="$company" WORK="$work"
xvfb-run -a -s "-screen 0 1440x900x24" bash -c '
  set -u
  log="$APP/logs/Talvora.log"
  step() { echo "$*"; }
  fail() { echo "FAIL $*"; import -window root "$SHOTS/program_failed.png"; tail -n 30 "$log"; exit 1; }
  wait_log() {  # wait_log TEXT [HALF_SECONDS]: TEXT in the log
    for _ in $(seq "${2:-120}"); do grep -qs "$1" "$log" && return 0; sleep 0.5; done
    return 1
  }
  # window TITLE [WIDTH]: the X window of that title (and width), its position in X and Y
  window() {
    local id w
    for _ in $(seq 40); do
      for id in $(xdotool search --name "^$1\$" 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        if [ -z "${2:-}" ] || [ "$WIDTH" = "$2" ]; then return 0; fi
      done
      sleep 0.5
    done
    return 1
  }
  click() { xdotool mousemove $(($1)) $(($2)) click 1; sleep 0.5; }
  wine "$APP/talvora.exe" >/dev/null 2>&1 &
  wait_log "main window shown" || fail "no main window"
  window "Talvora财税管家" || fail "no main window on the display"
  MX=$X MY=$Y
  sleep 2
  step "sign in through the login window"
  click MX+803 MY+20                      # 登录
  window TalvoraLoginFrame || fail "no login window"
  click X+200 Y+241; xdotool type --delay 40 13800000001
  click X+200 Y+299; xdotool type --delay 40 demo1234
  click X+45 Y+545                        # the agreement
  click X+200 Y+388                       # 登 录
  wait_log "login OK" 60 || fail "not signed in"
  sleep 2
  import -window root "$SHOTS/program_signed_in.png"
  step "back up the first company through the backup window"
  click MX+65 MY+187                      # 数据备份 tab
  click MX+368 MY+346                     # 数据备份
  window "Talvora财税管家-数据备份" || fail "no backup window"
  sleep 3
  click X+1024 Y+195                      # the first row'"'"'s 备份
  wait_log "upload confirmed ret=0" 240 || fail "the backup did not finish"
  sleep 2
  import -window root "$SHOTS/program_backed_up.png"
  click X+1122 Y+22                       # close the backup window
  step "delete the company, restore it through the restore window"
  rm -rf "$COMPANY"
  click MX+781 MY+346                     # 数据恢复
  window "Talvora财税管家-数据恢复" || fail "no restore window"
  sleep 4
  click X+1224 Y+195                      # the first row'"'"'s 恢复
  # The window still lists the copy it scanned, so it asks which side wins: the cloud.
  dialog() {  # the shown window about 840 x 330, the choice dialog
    local id
    for _ in $(seq 40); do
      for id in $(xdotool search --onlyvisible --name "" 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        if [ "$WIDTH" -ge 800 ] && [ "$WIDTH" -le 880 ] && [ "$HEIGHT" -ge 300 ] &&
          [ "$HEIGHT" -le 360 ]; then return 0; fi
      done
      sleep 0.5
    done
    return 1
  }
  dialog || fail "no choice dialog"
  click X+WIDTH-196 Y+HEIGHT-35           # 以云端为准
  for _ in $(seq 240); do [ -f "$COMPANY/invoice.db" ] && break; sleep 0.5; done
  sleep 3
  import -window root "$SHOTS/program_restored.png"
  [ -f "$COMPANY/invoice.db" ] || fail "the company was not restored"
'
(cd "$company" && find . -type f -print0 | sort -z | xargs -0 sha256sum) >"$work/after"
if cmp -s "$work/before" "$work/after"; then
  echo "PASS talvora.exe signs in, backs up and restores a company through its windows"
else
  diff "$work/before" "$work/after" | head
  echo "FAIL the restored company differs"
  exit 1
fi
