#!/usr/bin/env bash
# A night of an agency: backing up only what changed, against backing up everything.
#
#   bench/nightly_bench.sh [COMPANIES [MB [CHANGED]]]   (default 50 companies of 10 MB,
#                                                        5 changed; run after a build)
#
# Writes a demo Wine prefix with COMPANIES generated companies (talvora-demo-prefix
# --companies), fills each with about MB megabytes (bench/bench_tree.py), starts the
# object store (s3rver behind the verifying proxy) and the local Talvora service, backs
# everything up once (the first night, untimed), then changes CHANGED companies (one file
# each, in place) and times, on the same data:
#   changed  talvora-cli backup --changed
#   all      talvora-cli backup --all --overwrite local
#   peers    for every company: zip -r -6 -q, md5sum (+ sha256sum, which the store
#            demands), an upload slot from the service, curl --aws-sigv4 -T, confirmation
# with the bytes each sent to the store (growth of the store's folder). The last line
#   changed/peers R1 changed/all R2 uploaded changed B1 all B2 peers B3
# (target: R1 <= 0.15, and changed uploads only the changed companies). Everything lives
# in build/bench/; nothing stays running afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
companies=${1:-50}
mb=${2:-10}
changed=${3:-5}
for n in "$companies" "$mb" "$changed"; do
  case $n in
    '' | *[!0-9]*) echo "usage: bench/nightly_bench.sh [COMPANIES [MB [CHANGED]]]" >&2; exit 2 ;;
  esac
done
bin=$root/build/bin
for tool in zip md5sum sha256sum curl python3 node xxd base64 du; do
  command -v "$tool" >/dev/null || { echo "nightly_bench: $tool is missing" >&2; exit 1; }
done
for program in talvora-cli talvora-devservice talvora-demo-prefix; do
  [ -x "$bin/$program" ] || { echo "nightly_bench: build $program first (make test)" >&2; exit 1; }
done
[ -d devservice/objectstore/node_modules ] || (cd devservice/objectstore && npm ci --silent)

work=$root/build/bench/nightly-$companies-$mb
rm -rf "$work"
mkdir -p "$work/app" "$work/peer"
prefix=$work/prefix
"$bin/talvora-demo-prefix" "$prefix" --companies "$companies" >/dev/null
mapfile -t folders < <(find "$prefix/drive_c" \( -name TCDP.ini -o -name system_V5.dat \
  -o -name system_UKey.dat \) -printf '%h\n' | sort -u)
echo "Generating ${#folders[@]} company folders of ${mb} MB ..."
for folder in "${folders[@]}"; do python3 bench/bench_tree.py "$folder" "$mb"; done
data_bytes=$(du -scb "${folders[@]}" | tail -n 1 | cut -f 1)

cp "$bin/talvora-cli" "$work/app/"
export WINEPREFIX=$prefix TALVORA_PASSWORD=demo1234

pids=""
cleanup() {
  for pid in $pids; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT
wait_listening() { # OUT PID NAME
  for _ in $(seq 300); do
    if grep -q '^listening ' "$1"; then
      sed -n '1s/^listening //p' "$1"
      return 0
    fi
    kill -0 "$2" 2>/dev/null || break
    sleep 0.1
  done
  echo "nightly_bench: $3 did not start" >&2
  return 1
}
node devservice/objectstore/objectstore.js --port 0 --data "$work/store" \
  >"$work/store.out" 2>"$work/store.log" &
pids="$! $pids"
store_url="http://$(wait_listening "$work/store.out" "$!" "the object store")"
"$bin/talvora-devservice" --port 0 --data "$work/service" --s3 "$store_url" \
  --bucket talvora-backup >"$work/service.out" 2>"$work/service.log" &
pids="$! $pids"
service_url="http://$(wait_listening "$work/service.out" "$!" "the local service")"
echo "$service_url" >"$work/app/url"
printf '{"obsEndpoint": "%s", "obsPathStyle": true}\n' "$store_url" >"$work/app/settings.json"

# The peers' service calls: sign-in, upload slot, confirmation.
api() { # sign-in | slot NAME MD5 | done ID
  python3 - "$service_url" "$work/token" "$@" <<'PY'
import json, sys, urllib.request
base, token_file, what = sys.argv[1], sys.argv[2], sys.argv[3]
args = sys.argv[4:]
def call(path, body=None):
    headers = {"Content-Type": "application/json"}
    if what != "sign-in":
        headers["Authorization"] = "Bearer " + open(token_file).read().strip()
    req = urllib.request.Request(base + path, data=json.dumps(body).encode(), headers=headers)
    return json.load(urllib.request.urlopen(req))
if what == "sign-in":
    import hashlib
    r = call("/v1/account/agency/login", {"grantType": "password", "mobile": "13800000001",
             "password": hashlib.md5(b"demo1234").hexdigest()})
    open(token_file, "w").write(r["access_token"])
elif what == "slot":
    info = {"dirName": "PEER.0", "taxSn": "PEER", "typeStrEn": "SKP"}
    r = call("/v1/elec/archives/invoice/info/backups/get/upload",
             {"fileName": args[0], "fileSize": 0, "fileMD5": args[1], "fileTime": "2024-01-01 00:00:00",
              "bakTime": "2024-01-01 00:00:00", "durationSeconds": 3600, "fileDescribe": "",
              "fileInfo": json.dumps(info)})
    a = r["auth"]
    print(r["fileId"], r["bucketName"], r["fileCloudPath"], a["access"], a["secret"], a["securitytoken"])
elif what == "done":
    call("/v1/elec/archives/invoice/info/backups/upload/done", {"fileId": int(args[0])})
PY
}
api sign-in

now() { date +%s.%N; }
elapsed() { python3 -c "import sys; print('%.3f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$1" "$2"; }
stored() { du -sb "$work/store" | cut -f 1; }
cli() { "$work/app/talvora-cli" --account 13800000001 "$@" >>"$work/cli.out" 2>&1; }

fail=0
echo "Night 1: everything ..."
cli backup --changed || fail=1
# Changed in place: one file of each of the first CHANGED companies grows a little.
for folder in "${folders[@]:0:$changed}"; do
  file=$(find "$folder" -type f -size +100k | sort | head -n 1)
  printf 'changed tonight\r\n' >>"$file"
done

echo "Night 2: backup --changed ..."
before=$(stored)
t0=$(now)
"$work/app/talvora-cli" --account 13800000001 backup --changed >"$work/changed.out" 2>&1 || fail=1
t1=$(now)
changed_s=$(elapsed "$t0" "$t1")
changed_bytes=$(( $(stored) - before ))
changed_done=$(grep -c '  done$' "$work/changed.out" || true)

echo "backup --all --overwrite local ..."
before=$(stored)
t0=$(now)
cli backup --all --overwrite local || fail=1
t1=$(now)
all_s=$(elapsed "$t0" "$t1")
all_bytes=$(( $(stored) - before ))

echo "Peers: zip + md5sum + curl for every company ..."
before=$(stored)
t0=$(now)
i=0
for folder in "${folders[@]}"; do
  i=$((i + 1))
  zip_file=$work/peer/peer-$i.zip
  (cd "$(dirname "$folder")" && zip -r -6 -q "$zip_file" "$(basename "$folder")")
  md5=$(md5sum "$zip_file" | cut -d ' ' -f 1)
  sha=$(sha256sum "$zip_file" | cut -d ' ' -f 1)
  read -r file_id bucket key access secret token < <(api slot "peer-$i.zip" "$md5")
  curl -sS -f --aws-sigv4 "aws:amz:cn-east-3:s3" --user "$access:$secret" \
    -H "x-amz-security-token: $token" -H "x-amz-content-sha256: $sha" \
    -H "Content-MD5: $(echo "$md5" | xxd -r -p | base64)" \
    -T "$zip_file" "$store_url/$bucket/$key" -o /dev/null || fail=1
  api done "$file_id"
  rm -f "$zip_file"
done
t1=$(now)
peers_s=$(elapsed "$t0" "$t1")
peers_bytes=$(( $(stored) - before ))

ratio() { python3 -c "import sys; print('%.3f' % (float(sys.argv[1]) / float(sys.argv[2])))" "$1" "$2"; }
echo "data: ${#folders[@]} companies, $data_bytes bytes; $changed changed"
echo "backup --changed:            $changed_s s, $changed_done companies, $changed_bytes bytes uploaded"
echo "backup --all --overwrite local: $all_s s, $all_bytes bytes uploaded"
echo "peers (zip+md5sum+curl):     $peers_s s, $peers_bytes bytes uploaded"
echo "changed/peers $(ratio "$changed_s" "$peers_s") changed/all $(ratio "$changed_s" "$all_s") uploaded changed $changed_bytes all $all_bytes peers $peers_bytes"
[ $fail = 0 ] && [ "$changed_done" = "$changed" ]
