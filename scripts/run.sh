#!/usr/bin/env bash
# Starts the object store and the local Talvora service with demo data (accounts, a
# newer version of the program, a software catalogue), points the program at them through
# the `url` file and settings.json, runs the program (under xvfb-run when there is no
# display) and stops both when the program exits.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
data=build/devservice-data      # kept between runs: accounts, tokens, QR scenes, backups
files=build/devservice-files    # served under /files/
store_data=build/objectstore-data  # kept between runs: the uploaded archives
bucket=talvora-backup
mkdir -p "$data" "$files" "$store_data"

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

store_out=$(mktemp)
service_out=$(mktemp)
store=""
service=""
stop_all() {
  for pid in $service $store; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -f "$store_out" "$service_out"
}
trap stop_all EXIT

# wait_listening OUT PID NAME LOG: waits for "listening HOST:PORT" and prints HOST:PORT.
wait_listening() {
  for _ in $(seq 300); do
    grep -q '^listening ' "$1" && break
    if ! kill -0 "$2" 2>/dev/null; then
      echo "$3 did not start; see $4." >&2
      return 1
    fi
    sleep 0.1
  done
  local line
  line=$(head -n 1 "$1")
  if [ "${line#listening }" = "$line" ]; then
    echo "$3 did not report its port; see $4." >&2
    return 1
  fi
  echo "${line#listening }"
}

# The object store: s3rver behind the proxy that checks the service's credentials.
node devservice/objectstore/objectstore.js --port 0 --data "$store_data" --bucket "$bucket" \
  >"$store_out" 2>build/objectstore.log &
store=$!
store_url="http://$(wait_listening "$store_out" "$store" "The object store" build/objectstore.log)"

# Latency and token lifetime as a user meets them with the real service: a sign-in and
# the list take a noticeable moment, and a program left open for hours renews its token.
# DEMO_BACKUPS=M: the demo agency also lists M made-up nightly backups of 300 companies
# (listed only: they have no archives), as a long-standing agency sees its cloud.
seed=()
[ "${DEMO_BACKUPS:-0}" -gt 0 ] && seed=(--seed-backups "$DEMO_BACKUPS")
"$bin/talvora-devservice" --port 0 --data "$data" --static "$files" --s3 "$store_url" \
  --bucket "$bucket" --latency /=50 --latency /v1/account/agency/login=400 \
  --latency /v1/account/login=400 \
  --latency /v1/elec/archives/common/list=200 --token-lifetime 7200 \
  "${seed[@]}" >"$service_out" 2>build/devservice.log &
service=$!
url="http://$(wait_listening "$service_out" "$service" "The local Talvora service" build/devservice.log)"
echo "$url" >"$bin/url"

# Uploads, remote documents, the update list, the catalogue, the IP-geolocation answer and
# the web product all point at the local services; other members of settings.json stay as
# they are.
node -e '
const fs = require("fs");
const [file, endpoint, url] = process.argv.slice(1);
let settings = {};
try { settings = JSON.parse(fs.readFileSync(file, "utf8")); } catch (e) {}
if (typeof settings !== "object" || settings === null || Array.isArray(settings)) settings = {};
Object.assign(settings, {
  obsEndpoint: endpoint,
  obsPathStyle: true,
  portalListBase: url + "/files",
  ipLookupUrl: url + "/ip/cityjson",
  webAddress: url + "/web",
  updateBase: url + "/update/Talvora",
  appCatalogueUrl: url + "/app/app.json",
});
fs.writeFileSync(file, JSON.stringify(settings, null, 2) + "\n");
' "$bin/settings.json" "$store_url" "$url"

cat <<TEXT
Local Talvora service: $url (data in $data, log in build/devservice.log)
Object store for backups: $store_url, bucket $bucket (archives in $store_data,
refused requests in build/objectstore.log)
Demo accounts (password sign-in):
  agency (代账公司): 13800000001  password demo1234
  member (会员):     13900000002  password demo1234
WeChat QR sign-in: the QR code holds an address of the local service; opening it
(for example with curl) scans the code as the demo account of the chosen role.
TEXT

# The invoicing software lives in a Wine prefix. Unless WINEPREFIX names one, a generated
# demo prefix stands in: the three editions, an unrelated program and company data.
# DEMO_COMPANIES=N: a prefix of its own with N generated companies over the three editions.
if [ -z "${WINEPREFIX:-}" ]; then
  if [ "${DEMO_COMPANIES:-0}" -gt 0 ]; then
    export WINEPREFIX="$PWD/build/demo-prefix-$DEMO_COMPANIES"
    [ -f "$WINEPREFIX/system.reg" ] ||
      "$bin/talvora-demo-prefix" "$WINEPREFIX" --companies "$DEMO_COMPANIES" >/dev/null
  else
    export WINEPREFIX="$PWD/build/demo-prefix"
    [ -f "$WINEPREFIX/system.reg" ] || "$bin/talvora-demo-prefix" "$WINEPREFIX" --large 96 >/dev/null
  fi
  # As in every Wine prefix, Z: is the root folder: an installer started from the
  # program's folder then sees a drive path for itself.
  [ -e "$WINEPREFIX/dosdevices/z:" ] || ln -s / "$WINEPREFIX/dosdevices/z:"
  echo "Demo Wine prefix: $WINEPREFIX"
fi
echo "Backups without the window, from another terminal while this runs (see the README):"
echo "  WINEPREFIX=$WINEPREFIX TALVORA_PASSWORD=demo1234 $bin/talvora-cli --account 13800000001 backup --all"

# Chromium's sandbox refuses to run as root; a root session (a container, a test machine)
# runs the embedded browser without it.
if [ "$(id -u)" -eq 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
  echo "Running as root: the embedded browser runs without Chromium's sandbox."
fi

# The invoicing data and the service keep China time; the demo shows the program as its
# users see it, whatever zone this machine is set to.
export TZ="${TZ:-Asia/Shanghai}"

status=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running Talvora under xvfb-run (a virtual display)."
  xvfb-run -a -s "-screen 0 1600x1000x24" "$bin/talvora" || status=$?
else
  "$bin/talvora" || status=$?
fi
exit "$status"
