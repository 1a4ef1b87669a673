#!/usr/bin/env bash
# fuzz.sh [SECONDS]: builds the fuzz targets and runs each for SECONDS (default 60) on
# a copy of its corpus, then prints the executions per target. A crash stops the run
# and leaves its input in build-fuzz/fuzz/<target>-crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/build.sh build-fuzz -DTALVORA_GUI=OFF -DTALVORA_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
summary=()
for corpus in tests/fuzz/corpus/*/; do
  name=$(basename "$corpus")
  work=build-fuzz/fuzz/$name
  mkdir -p "$work"
  log=build-fuzz/fuzz/$name.log
  dict=()
  case $name in
    service_reply|settings|portal|backup_replies|software_replies|account_replies)
      dict=(-dict=tests/fuzz/json.dict) ;;
  esac
  echo "== $name: ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "build-fuzz/bin/${name}_fuzz" -max_total_time="$seconds" -max_len=65536 "${dict[@]}" -print_final_stats=1 \
    -artifact_prefix="build-fuzz/fuzz/$name-" "$work" "$corpus" >"$log" 2>&1 || {
    tail -n 40 "$log"
    echo "$name: failed, see $log"
    exit 1
  }
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  summary+=("$name $runs")
done
echo "== executions per target (${seconds}s each)"
printf '%s\n' "${summary[@]}"
