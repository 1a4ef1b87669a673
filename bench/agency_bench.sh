#!/usr/bin/env bash
# An agency of many companies with a long cloud history: the restore and backup windows
# (offscreen) and talvora-cli against the local service and the object store.
#
#   bench/agency_bench.sh [COMPANIES [BACKUPS]]   (defaults 300 and 20000; after `make test`)
#
# build/bench/talvora_agency_bench writes a demo Wine prefix of COMPANIES companies,
# starts the object store and the local service with BACKUPS seeded cloud backups of
# other companies (listed only, no archives), and prints one line per figure: the time
# from the list reply to the restore window's rows, search, select-all, a full scroll,
# the longest UI-thread block over those (a heartbeat every 10 ms, "uiHeartbeatMs"),
# peak memory, opening the backup window, a batch backup of every company with the time
# per item outside packing and upload, and talvora-cli list --cloud at BACKUPS and at
# 100000 records. The load average before and after is printed with them: the figures
# are only as quiet as the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
companies=${1:-300}
backups=${2:-20000}
case "$companies$backups" in
  *[!0-9]*) echo "usage: bench/agency_bench.sh [COMPANIES [BACKUPS]]" >&2; exit 2 ;;
esac
exe=build/bench/talvora_agency_bench
for program in "$exe" build/bin/talvora-cli build/bin/talvora-devservice; do
  [ -x "$program" ] || { echo "agency_bench: build $program first (make test)" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "agency_bench: /usr/bin/time is missing" >&2; exit 1; }
[ -d devservice/objectstore/node_modules ] || (cd devservice/objectstore && npm ci --silent)

echo "load average before: $(cut -d ' ' -f 1-3 /proc/loadavg) on $(nproc) cores"
QT_QPA_PLATFORM=offscreen TZ=Asia/Shanghai \
  /usr/bin/time -f 'whole run: %e s, peak RSS %M KiB' \
  "$exe" --companies "$companies" --backups "$backups"
echo "load average after: $(cut -d ' ' -f 1-3 /proc/loadavg)"
