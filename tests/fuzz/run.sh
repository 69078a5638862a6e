#!/usr/bin/env bash
# One fuzz target from its seeds and its growing corpus:
#   run.sh FUZZ_BUILD_DIR TARGET SECONDS [RUNS]
# The corpus (build/fuzz/corpus/TARGET) keeps what earlier runs found; a
# crash leaves its input under build/fuzz/artifacts/ and fails the run.
set -euo pipefail
dir=$1 target=$2 seconds=$3 runs=${4:--1}
bin=$dir/tests/fuzz/${target}_fuzz
seeds=$dir/tests/fuzz/seeds/$target
if [ ! -x "$bin" ]; then
  echo "$bin is missing: run ./orva build" >&2
  exit 1
fi
mkdir -p "$dir/corpus/$target" "$dir/artifacts"
# -close_fd_mask=2: the relay logs every join to stderr; libFuzzer and the
# sanitizers keep their own copy of it for reports.
exec "$bin" -max_total_time="$seconds" -runs="$runs" -max_len=16384 -timeout=10 \
  -rss_limit_mb=2048 -close_fd_mask=2 -print_final_stats=1 \
  -artifact_prefix="$dir/artifacts/$target-" "$dir/corpus/$target" "$seeds"
