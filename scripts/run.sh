#!/usr/bin/env bash
# Starts the local Talvora service with demo data, points the program at it through the
# `url` file, runs the program (under xvfb-run when there is no display) and stops the
# service when the program exits.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
data=build/devservice-data      # kept between runs: accounts, tokens, QR scenes
files=build/devservice-files    # served under /files/
mkdir -p "$data" "$files"

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

# Remote documents, the IP-geolocation answer and the web product come from the local
# service too. A settings.json of the user's own (without "localService") is left alone.
settings="$bin/settings.json"
if [ ! -f "$settings" ] || grep -q '"localService"' "$settings"; then
  cat >"$settings" <<JSON
{
  "localService": true,
  "portalListBase": "$url/files",
  "ipLookupUrl": "$url/ip/cityjson",
  "webAddress": "$url/web"
}
JSON
else
  echo "Keeping $settings as it is: its addresses may not point at the local service."
fi

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
