#!/usr/bin/env bash
# Backup and restore of one company folder: talvora-cli against the standard tools.
#
#   bench/backup_bench.sh [MB]        (default 200; run after `make test` or a build)
#
# Generates a deterministic company folder of about MB megabytes (bench/bench_tree.py) in
# a demo Wine prefix, starts the object store (s3rver behind the verifying proxy) and the
# local Talvora service, and times on the same data, three runs each (medians):
#   backup:  peers  zip -r -6 -q, md5sum (+ sha256sum, which the store demands), curl
#                   --aws-sigv4 -T to the store
#            Talvora talvora-cli backup TAXSN
#   restore: peers  curl GET, md5sum, unzip -q
#            Talvora talvora-cli restore --latest TAXSN
# It checks the Talvora archive with unzip -t and compares every restored tree with the
# original byte for byte. Talvora's peak memory is the largest "Maximum resident set
# size" of /usr/bin/time -v over its runs. The last line reads
#   backup ratio R1 restore ratio R2 peak MiB M
# (ratio = Talvora time / peers time). Everything lives in build/bench/; nothing stays
# running afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
mb=${1:-200}
case $mb in
  '' | *[!0-9]*) echo "usage: bench/backup_bench.sh [MB]" >&2; exit 2 ;;
esac
runs=3
bin=$root/build/bin
for tool in zip unzip md5sum sha256sum curl python3 node xxd base64; do
  command -v "$tool" >/dev/null || { echo "backup_bench: $tool is missing" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "backup_bench: /usr/bin/time is missing" >&2; exit 1; }
for program in talvora-cli talvora-devservice talvora-demo-prefix; do
  [ -x "$bin/$program" ] || { echo "backup_bench: build $program first (make test)" >&2; exit 1; }
done
[ -d devservice/objectstore/node_modules ] || (cd devservice/objectstore && npm ci --silent)

work=$root/build/bench/backup-$mb
rm -rf "$work"
mkdir -p "$work/app" "$work/peer" "$work/times"
taxsn=91440300MA5F8QRS3P
company=$taxsn.0
prefix=$work/prefix
data_root=$prefix/drive_c/SKKP/data
"$bin/talvora-demo-prefix" "$prefix" >/dev/null
# The demo company keeps the files the scan knows it by; the generated data joins them.
echo "Generating a ${mb} MB company folder ..."
python3 bench/bench_tree.py "$data_root/$company" "$mb"
mkdir -p "$work/original"
cp -a "$data_root/$company" "$work/original/$company"
data_bytes=$(du -sb "$work/original/$company" | cut -f 1)

# talvora-cli reads url, config and settings.json beside itself and keeps its log and
# working folder there: a copy of its own keeps build/bin untouched.
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
  echo "backup_bench: $3 did not start" >&2
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

# The service calls of the peers' side: sign-in, upload slot, confirmation, address.
api() { # sign-in | slot NAME MD5 | done ID | address ID | latest
  python3 - "$service_url" "$work/token" "$@" <<'PY'
import json, sys, urllib.request
base, token_file, what = sys.argv[1], sys.argv[2], sys.argv[3]
args = sys.argv[4:]
def call(path, body=None, method=None):
    headers = {"Content-Type": "application/json"}
    if what != "sign-in":
        headers["Authorization"] = "Bearer " + open(token_file).read().strip()
    data = None if body is None else json.dumps(body).encode()
    req = urllib.request.Request(base + path, data=data, headers=headers, method=method)
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
elif what == "address":
    print(call("/v1/elec/archives/common/download/" + args[0])["fileUrl"])
elif what == "latest":
    rows = call("/v1/elec/archives/common/list/invoiceInfoBackups?needPage=false")["list"]
    rows = [r for r in rows if json.loads(r.get("fileInfo") or "{}").get("taxSn") == args[0]]
    print(max(rows, key=lambda r: r["fileId"])["fileId"])
PY
}
api sign-in

now() { date +%s.%N; }
elapsed() { python3 -c "import sys; print('%.3f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$1" "$2"; }
median() { sort -g | sed -n 2p; }
peak_kib() { sed -n 's/^\tMaximum resident set size (kbytes): //p' "$1"; }
same_tree() { diff -r --no-dereference "$1" "$2" >/dev/null; }

cli() { # log-name command...
  local log=$1
  shift
  /usr/bin/time -v -o "$work/times/$log" "$work/app/talvora-cli" --account 13800000001 "$@" \
    >>"$work/cli.out" 2>&1
}

peer_fail=0
tv_fail=0
for run in $(seq $runs); do
  echo "Run $run of $runs ..."
  # Peers: a fresh upload slot each run (untimed), then zip, digests and the signed PUT.
  rm -f "$work/peer/peer.zip"
  t0=$(now)
  (cd "$data_root" && zip -r -6 -q "$work/peer/peer.zip" "$company")
  md5=$(md5sum "$work/peer/peer.zip" | cut -d ' ' -f 1)
  sha=$(sha256sum "$work/peer/peer.zip" | cut -d ' ' -f 1)
  t1=$(now)
  packed=$(elapsed "$t0" "$t1")
  read -r file_id bucket key access secret token < <(api slot "peer-$run.zip" "$md5")
  t0=$(now)
  curl -sS -f --aws-sigv4 "aws:amz:cn-east-3:s3" --user "$access:$secret" \
    -H "x-amz-security-token: $token" -H "x-amz-content-sha256: $sha" \
    -H "Content-MD5: $(echo "$md5" | xxd -r -p | base64)" \
    -T "$work/peer/peer.zip" "$store_url/$bucket/$key" -o /dev/null || peer_fail=1
  t1=$(now)
  python3 -c "import sys; print('%.3f' % (float(sys.argv[1]) + float(sys.argv[2]) - float(sys.argv[3])))" \
    "$packed" "$t1" "$t0" >>"$work/peer-backup"
  api done "$file_id"

  t0=$(now)
  cli "backup-$run" --overwrite local backup "$taxsn" || tv_fail=1
  t1=$(now)
  echo "$(elapsed "$t0" "$t1")" >>"$work/talvora-backup"

  # Restores: the peers fetch their own upload; Talvora its newest backup.
  url=$(api address "$file_id")
  rm -rf "$work/peer/restored" "$work/peer/download.zip"
  t0=$(now)
  curl -sS -f -o "$work/peer/download.zip" "$url" || peer_fail=1
  [ "$(md5sum "$work/peer/download.zip" | cut -d ' ' -f 1)" = "$md5" ] || peer_fail=1
  unzip -q "$work/peer/download.zip" -d "$work/peer/restored" || peer_fail=1
  t1=$(now)
  echo "$(elapsed "$t0" "$t1")" >>"$work/peer-restore"
  same_tree "$work/original/$company" "$work/peer/restored/$company" || peer_fail=1

  t0=$(now)
  cli "restore-$run" --overwrite cloud restore --latest "$taxsn" || tv_fail=1
  t1=$(now)
  echo "$(elapsed "$t0" "$t1")" >>"$work/talvora-restore"
  same_tree "$work/original/$company" "$data_root/$company" || tv_fail=1
  # The old data set aside by the restore is not needed here.
  rm -rf "$data_root/$company"_*.tvrbak
done

# The archive Talvora uploaded, read by Info-ZIP.
latest=$(api latest "$taxsn")
curl -sS -f -o "$work/talvora.zip" "$(api address "$latest")"
if unzip -tq "$work/talvora.zip" >"$work/unzip-t.out" 2>&1; then unzip_t=passed; else unzip_t=FAILED; fi

peak=0
for f in "$work"/times/*; do
  kib=$(peak_kib "$f")
  [ "$kib" -gt "$peak" ] && peak=$kib
done
peak_mib=$(( (peak + 1023) / 1024 ))
pb=$(median <"$work/peer-backup")
tb=$(median <"$work/talvora-backup")
pr=$(median <"$work/peer-restore")
tr=$(median <"$work/talvora-restore")
ratio() { python3 -c "import sys; print('%.2f' % (float(sys.argv[1]) / float(sys.argv[2])))" "$1" "$2"; }
per_mb() { python3 -c "import sys; print('%.1f' % (1000 * float(sys.argv[1]) / (float(sys.argv[2]) / 1048576)))" "$1" "$2"; }
[ $tv_fail = 0 ] && tv_check=passed || tv_check=FAILED
[ $peer_fail = 0 ] && peer_check=passed || peer_check=FAILED

echo "data: $data_bytes bytes in $(find "$work/original" -type f | wc -l) files; archive $(stat -c %s "$work/talvora.zip") bytes (zip: $(stat -c %s "$work/peer/peer.zip"))"
echo "backup:  peers $pb s, Talvora $tb s ($(per_mb "$tb" "$data_bytes") ms/MB), ratio $(ratio "$tb" "$pb")"
echo "restore: peers $pr s, Talvora $tr s ($(per_mb "$tr" "$data_bytes") ms/MB), ratio $(ratio "$tr" "$pr")"
echo "Talvora peak memory: $peak_mib MiB; unzip -t: $unzip_t; byte comparison: Talvora $tv_check, peers $peer_check"
echo "backup ratio $(ratio "$tb" "$pb") restore ratio $(ratio "$tr" "$pr") peak MiB $peak_mib"
[ "$unzip_t" = passed ] && [ $tv_fail = 0 ] && [ $peer_fail = 0 ]
