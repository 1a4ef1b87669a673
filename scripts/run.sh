#!/usr/bin/env bash
# Starts the local Talvora service with demo data, points the program at it through the
# `url` file and settings.json, runs the program (under xvfb-run when there is no display)
# and stops the service when the program exits.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
data=build/devservice-data      # kept between runs: accounts, tokens, QR scenes
files=build/devservice-files    # served under /files/
mkdir -p "$data" "$files"

# What the software centre finds on the local service (served by it, see
# devservice/routes_update.cpp):
# - the update list publishes this build's package under the next version number, so
#   the version button finds a newer version, downloads and verifies it, and asks;
# - the catalogue lists the invoicing editions and two demo programs whose installer
#   (a small Windows program) registers them in the Wine prefix.
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build/CPackConfig.cmake)
next=$(echo "$version" | awk -F. '{ printf "%d.%d.%d.%d", $1, $2, $3 + 1, $4 }')
updates="$files/update/Talvora"
mkdir -p "$updates" "$files/update/grayRelease/Talvora"
if ! ls "$updates"/Talvora_v"$next"_*.deb >/dev/null 2>&1 || \
   [ -n "$(find "$bin/talvora" -newer "$(ls "$updates"/Talvora_v"$next"_*.deb | head -n 1)")" ]; then
  echo "Building the demo update package (version $next) ..."
  rm -f "$updates"/Talvora_v*.deb
  (cd build && cpack -G DEB -D CPACK_PACKAGE_VERSION="$next" -B "$PWD/demo-package" >/dev/null)
  cp build/demo-package/Talvora_v"$next"_*.deb "$updates/"
  cp build/demo-package/Talvora_v"$next"_*.deb "$files/update/grayRelease/Talvora/"
fi

installer=build/fixtures/pe/demo_installer.exe
mkdir -p "$files/app"
cp "$installer" "$files/app/demo-setup.exe"
md5=$(md5sum "$installer" | cut -d ' ' -f 1)
app() { # name png
  printf '    {"name": "%s", "png": "%s", "url": "{base}/files/app/demo-setup.exe", "newver": "0", "md5": "%s"}' "$1" "$2" "$md5"
}
{
  echo '{'
  echo '  // Written by scripts/run.sh for the local service.'
  echo '  "appList": ['
  app "增值税发票税控开票软件(税控盘版)" "app/demo_tax.png"; echo ','
  app "增值税发票开票软件（税务UKey版）" "app/demo_tax.png"; echo ','
  app "开票软件" "app/demo_tax.png"; echo ','
  app "Talvora演示记账" "app/demo_ledger.png"; echo ','
  app "Talvora演示报税" "app/demo_tax.png"; echo
  echo '  ]'
  echo '}'
} >"$files/app/app.json"

out=$(mktemp)
"$bin/talvora-devservice" --port 0 --data "$data" --static "$files" >"$out" 2>build/devservice.log &
service=$!
stop_service() {
  kill "$service" 2>/dev/null || true
  wait "$service" 2>/dev/null || true
  rm -f "$out"
}
trap stop_service EXIT

for _ in $(seq 200); do
  grep -q '^listening ' "$out" && break
  if ! kill -0 "$service" 2>/dev/null; then
    echo "The local Talvora service did not start; see build/devservice.log." >&2
    exit 1
  fi
  sleep 0.1
done
line=$(head -n 1 "$out")
if [ "${line#listening }" = "$line" ]; then
  echo "The local Talvora service did not report its port; see build/devservice.log." >&2
  exit 1
fi
url="http://${line#listening }"
echo "$url" >"$bin/url"

# The update list and the catalogue come from the local service; other members of
# settings.json stay as they are.
node -e '
const fs = require("fs");
const [file, url] = process.argv.slice(1);
let settings = {};
try { settings = JSON.parse(fs.readFileSync(file, "utf8")); } catch (e) {}
if (typeof settings !== "object" || settings === null || Array.isArray(settings)) settings = {};
Object.assign(settings, { updateBase: url + "/update/Talvora", appCatalogueUrl: url + "/app/app.json" });
fs.writeFileSync(file, JSON.stringify(settings, null, 2) + "\n");
' "$bin/settings.json" "$url"

cat <<TEXT
Local Talvora service: $url (data in $data, log in build/devservice.log)
Demo accounts (password sign-in):
  agency (代账公司): 13800000001  password demo1234
  member (会员):     13900000002  password demo1234
WeChat QR sign-in: the QR code holds an address of the local service; opening it
(for example with curl) scans the code as the demo account of the chosen role.
TEXT

# The invoicing software lives in a Wine prefix. Unless WINEPREFIX names one, a generated
# demo prefix stands in: the three editions, an unrelated program and company data.
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="$PWD/build/demo-prefix"
  [ -f "$WINEPREFIX/system.reg" ] || "$bin/talvora-demo-prefix" "$WINEPREFIX" --large 96 >/dev/null
  echo "Demo Wine prefix: $WINEPREFIX"
fi

status=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running Talvora under xvfb-run (a virtual display)."
  xvfb-run -a "$bin/talvora" || status=$?
else
  "$bin/talvora" || status=$?
fi
exit "$status"
