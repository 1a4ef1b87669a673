#!/usr/bin/env bash
# cli_e2e.sh WIN_BUILD LINUX_BUILD: talvora-cli.exe under 32-bit Wine against the native
# local service and object store. The invoicing software is registered in a fresh
# prefix's registry with `wine reg add`, company data lies in its drive_c; every company
# is backed up, one company's folder is deleted and restored, and the restored tree must
# equal the original byte for byte, directory times to two seconds. Then an archive of
# the Windows build is restored by the Linux build and one of the Linux build by the
# Windows build. Finally HTTPS: a certificate of a test authority (caFile) for localhost
# passes; a wrong name, an unknown authority and an expired certificate are refused.
# Run by scripts/wine-tests.sh (Wine settings in the environment).
set -euo pipefail
win=$1
linux=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
work="$win/cli-e2e"
rm -rf "$work"
mkdir -p "$work/app" "$work/linux-app"
export WINEPREFIX="$work/prefix"
# shellcheck source=e2e_support.sh
. "$root/tests/win32/e2e_support.sh"
failures=0
passes=0
check() {  # check NAME COMMAND...: one result line per check
  if "${@:2}"; then
    echo "PASS $1"
    passes=$((passes + 1))
  else
    echo "FAIL $1"
    failures=$((failures + 1))
  fi
}

start_peers "$work" "$linux"

# The program folders: the Windows build's and the Linux build's, same service.
cp "$win/bin/talvora-cli.exe" "$work/app/"
cp "$linux/bin/talvora-cli" "$work/linux-app/"
for d in app linux-app; do
  echo "$service" >"$work/$d/url"
  printf '{"obsEndpoint": "%s", "obsPathStyle": true}\n' "$store" >"$work/$d/settings.json"
done

# The prefix: the three editions registered as their installers leave them.
wine wineboot --init >/dev/null 2>&1
wineserver -w
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
entry() {
  local key=$1
  shift
  while [ $# -gt 0 ]; do
    wine reg add "$uninstall\\$key" /v "$1" /t REG_SZ /d "$2" /f >/dev/null
    shift 2
  done
}
entry '增值税发票税控开票软件(税控盘版)' DisplayName '增值税发票税控开票软件(税控盘版)' \
  DisplayVersion 'V2.3.20.200728' UninstallString '"C:\SKKP\UNWISE.EXE" C:\SKKP\INSTALL.LOG'
entry '增值税发票开票软件（税务UKey版）' DisplayName '增值税发票开票软件（税务UKey版）' \
  DisplayVersion '1.0.52' UninstallString '"C:\Program Files\UKeyKp\uninst.exe"'
entry '开票软件金税盘版' DisplayName '开票软件金税盘版V2.0.53_ZS_20200731' \
  DisplayVersion '2.0.53' UninstallString 'C:\Program Files\kp\uninst.exe'
c="$WINEPREFIX/drive_c"
mkdir -p "$c/SKKP" "$c/Program Files/UKeyKp" "$c/Program Files/kp/bin"
cp "$win/bin/newskkp.exe" "$c/SKKP/newskkp.exe"
for exe in "SKKP/UNWISE.EXE" "Program Files/UKeyKp/uninst.exe" "Program Files/UKeyKp/UKeyKp.exe" \
    "Program Files/kp/uninst.exe" "Program Files/kp/bin/skfpShell.exe"; do
  cp "$win/bin/write_marker.exe" "$c/$exe"
done
# company DIR MARKER SEED: data as the invoicing software keeps it, Chinese names included.
company() {
  local d=$1
  mkdir -p "$d/backup" "$d/发票数据/2024" "$d/empty"
  printf '[TaxData]\r\nTaxNo=%s\r\n' "$(basename "$d" | cut -d. -f1)" >"$d/$2"
  head -c $((200000 + $3 * 7919)) /dev/urandom >"$d/invoice.db"
  head -c 4096 /dev/urandom >"$d/backup/invoice.bak"
  printf '发票 %s\r\n' "$3" >"$d/发票数据/2024/清单.txt"
  touch -d '2024-03-01 08:30:10' "$d/发票数据/2024" "$d/empty"
  touch -d '2024-03-02 09:00:00' "$d/发票数据" "$d/backup"
  touch -d '2024-03-03 10:15:20' "$d"
}
# Each company directly in its edition's data root, where a restore puts it back.
skp="$c/SKKP/91440300MA5F8QRS3P.0"
uk="$c/Program Files/UKeyKp/91110108MA01ABCD2X.1"
jsp="$c/Program Files/kp/bin/913101157989776543.0"
company "$skp" system_V5.dat 1
company "$uk" system_UKey.dat 2
company "$jsp" TCDP.ini 3
# The Linux build reads system.reg, which Wine writes when its server ends.
wineserver -w

# tree DIR: every file's digest and every folder's time (seconds, to compare within 2 s).
tree() {
  (cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha256sum
    find . -type d -print0 | sort -z | xargs -0 stat -c 'dir %n %Y')
}
same_tree() {  # same_tree SAVED DIR
  [ -d "$2" ] || return 1
  diff <(grep -v '^dir ' "$1") <(tree "$2" | grep -v '^dir ') || return 1
  diff <(grep '^dir ' "$1" | awk '{print $2}') <(tree "$2" | grep '^dir ' | awk '{print $2}') \
    || return 1
  paste -d' ' <(grep '^dir ' "$1") <(tree "$2" | grep '^dir ') |
    awk '{ d = $3 - $6; if (d < -2 || d > 2) { print "time of " $2 " off by " d " s"; bad = 1 } }
         END { exit bad }'
}
tree "$skp" >"$work/skp.tree"
tree "$uk" >"$work/uk.tree"
tree "$jsp" >"$work/jsp.tree"

export TALVORA_PASSWORD=demo1234
wcli() { (cd "$work/app" && wine ./talvora-cli.exe --account 13800000001 "$@"); }
lcli() { "$work/linux-app/talvora-cli" --account 13800000001 "$@"; }

scan_finds_three() {
  wcli scan >"$work/scan.txt" 2>&1 || { cat "$work/scan.txt"; return 1; }
  grep -q 'found 3 invoicing data sets (JSP 1, SKP 1, UK 1)' "$work/scan.txt" || { cat "$work/scan.txt"; return 1; }
}
check "windows scan finds the three companies" scan_finds_three
check "windows backup --all" wcli backup --all
check "three archives in the cloud" \
  bash -c "cd '$work/app' && TALVORA_PASSWORD=demo1234 wine ./talvora-cli.exe --account 13800000001 list --cloud --json | grep -o '\"taxSn\"' | wc -l | grep -qx 3"
check "archives in the object store" bash -c "find '$work/store' -name '*.zip*' | grep -q ."

rm -rf "$skp"
check "windows restore of a deleted company" wcli restore --overwrite cloud --latest 91440300MA5F8QRS3P
check "restored tree is identical" same_tree "$work/skp.tree" "$skp"

# Written by the Windows build, restored by the Linux build.
rm -rf "$uk"
check "linux restore of a windows archive" lcli restore --overwrite cloud --latest 91110108MA01ABCD2X
check "tree identical after the linux restore" same_tree "$work/uk.tree" "$uk"

# Written by the Linux build, restored by the Windows build.
check "linux backup" lcli backup --overwrite local 913101157989776543
rm -rf "$jsp"
check "windows restore of a linux archive" wcli restore --overwrite cloud --latest 913101157989776543
check "tree identical after the windows restore" same_tree "$work/jsp.tree" "$jsp"

# HTTPS with a test authority; this curl matches no IP addresses in certificates.
tls="$work/tls"
mkdir -p "$tls"
(
  cd "$tls"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=TalvoraTestCA \
    -keyout ca.key -out ca.pem 2>/dev/null
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=OtherCA \
    -keyout other.key -out other.pem 2>/dev/null
  printf '[ca]\ndefault_ca = t\n[t]\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\ndefault_md = sha256\npolicy = p\nunique_subject = no\n[p]\ncommonName = supplied\n' >ca.cnf
  : >index.txt
  echo 01 >serial
  when() { date -u -d "$1" +%y%m%d%H%M%SZ; }
  leaf() {  # leaf NAME CA SAN FROM TO
    openssl req -newkey rsa:2048 -nodes -subj "/CN=$1" -keyout "$1.key" -out "$1.csr" 2>/dev/null
    printf 'subjectAltName=%s\n' "$3" >"$1.ext"
    openssl ca -batch -config ca.cnf -cert "$2.pem" -keyfile "$2.key" -in "$1.csr" -out "$1.pem" \
      -startdate "$(when "$4")" -enddate "$(when "$5")" -extfile "$1.ext" -notext 2>/dev/null
  }
  leaf good ca DNS:localhost '-1 day' '+2 days'
  leaf wrongname ca DNS:elsewhere.test '-1 day' '+2 days'
  leaf stranger other DNS:localhost '-1 day' '+2 days'
  leaf expired ca DNS:localhost '-10 days' '-5 days'
)
# signs_in CERT: talvora-cli.exe signs in to an HTTPS service with that certificate.
signs_in() {
  local name=$1 dir="$work/tls-$1"
  mkdir -p "$dir/app"
  "$linux/bin/talvora-devservice" --port 0 --data "$dir/data" --static "$dir/static" \
    --cert "$tls/$name.pem" --key "$tls/$name.key" >"$dir/out" 2>"$dir/log" &
  local pid=$!
  pids+=($pid)
  local hostport
  hostport=$(wait_listening "$dir/out" $pid) || return 2
  cp "$win/bin/talvora-cli.exe" "$dir/app/"
  echo "https://localhost:${hostport##*:}" >"$dir/app/url"
  printf '{"caFile": "Z:%s/ca.pem"}\n' "$tls" >"$dir/app/settings.json"
  (cd "$dir/app" && wine ./talvora-cli.exe --account 13800000001 list --cloud >/dev/null 2>&1)
  local rc=$?
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  return $rc
}
https_refused() { signs_in "$1" && return 1 || [ $? -eq 3 ]; }
check "https: a certificate of the trusted authority passes" signs_in good
check "https: a wrong host name is refused" https_refused wrongname
check "https: an unknown authority is refused" https_refused stranger
check "https: an expired certificate is refused" https_refused expired

echo "$passes passed, $failures failed"
[ $failures -eq 0 ]
