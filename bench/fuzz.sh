#!/usr/bin/env bash
# Long fuzzing runs: every target for 10 million executions or 10 minutes,
# whichever comes first, then one line of figures per target.
#   bench/fuzz.sh [SECONDS [RUNS]] [TARGET...]   (defaults 600 10000000, all)
# Needs the fuzz tree: ./orva build (or cmake --preset fuzz && cmake --build
# --preset fuzz). The corpora under build/fuzz/corpus/ grow from run to run.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=$top/build/fuzz
seconds=${1:-600}
runs=${2:-10000000}
shift $(( $# > 2 ? 2 : $# ))
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=()
  for bin in "$dir"/tests/fuzz/*_fuzz; do
    name=$(basename "$bin")
    targets+=("${name%_fuzz}")
  done
fi
logs=$dir/bench-logs
mkdir -p "$logs"
status=0
printf '%-18s %12s %10s %8s %8s %8s %s\n' target executions exec/s seconds cov corpus result
for t in "${targets[@]}"; do
  start=$(date +%s)
  if "$top/tests/fuzz/run.sh" "$dir" "$t" "$seconds" "$runs" >"$logs/$t.log" 2>&1; then
    result=ok
  else
    result="CRASH (see $logs/$t.log and $dir/artifacts/)"
    status=1
  fi
  elapsed=$(( $(date +%s) - start ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$t.log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$logs/$t.log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$logs/$t.log" | tail -1 | cut -d' ' -f2)
  corpus=$(ls "$dir/corpus/$t" 2>/dev/null | wc -l)
  printf '%-18s %12s %10s %8s %8s %8s %s\n' "$t" "${execs:-?}" "${rate:-?}" "$elapsed" \
    "${cov:-?}" "$corpus" "$result"
done
exit $status
