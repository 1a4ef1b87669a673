# Sourced by the end-to-end runs under Wine: the native servers they start, stopped with
# the run, and the wait for a server's address.
pids=()
stop_all() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
}
trap stop_all EXIT

# wait_listening OUT PID: "HOST:PORT" from the server's first line.
wait_listening() {
  for _ in $(seq 300); do
    grep -q '^listening ' "$1" 2>/dev/null && break
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  local line
  line=$(head -n 1 "$1")
  [ "${line#listening }" != "$line" ] || return 1
  echo "${line#listening }"
}

# start_peers WORK LINUX_BUILD: the object store and the local service behind it, their
# addresses in $store and $service.
start_peers() {
  node "$root/devservice/objectstore/objectstore.js" --port 0 --data "$1/store" \
    --bucket talvora-backup >"$1/store.out" 2>"$1/store.log" &
  pids+=($!)
  store="http://$(wait_listening "$1/store.out" $!)"
  "$2/bin/talvora-devservice" --port 0 --data "$1/service" --static "$1/static" \
    --s3 "$store" --bucket talvora-backup >"$1/service.out" 2>"$1/service.log" &
  pids+=($!)
  service="http://$(wait_listening "$1/service.out" $!)"
}
