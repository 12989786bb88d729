#!/usr/bin/env bash
# Sessions under load: cookie-less requests at full speed for 70 s with a 60 s session
# timeout, so every request starts a session and from second 60 on the cleaner ends them as
# fast as they come. The rate of the last 10 s must stay within 10 % of the first 10 s.
source "$(dirname "$0")/bench_common.sh"
build_bench_server
ensure_wrk
head -c 1024 /dev/urandom >"$BENCH_DIR/unused.bin"
start_server "$BENCH_DIR/unused.bin" 60000

read -r first _ < <(run_wrk 10 /small)
read -r middle _ < <(run_wrk 50 /small)
read -r last _ < <(run_wrk 10 /small)
echo "seconds 0-10:  $first requests/s"
echo "seconds 10-60: $middle requests/s"
echo "seconds 60-70: $last requests/s"
awk -v a="$first" -v b="$last" 'BEGIN {
  change = (b - a) / a * 100
  printf "change: %+.1f %%  (%s)\n", change, (change >= -10 && change <= 10) ? "within 10 %" : "OUTSIDE 10 %"
  exit (change >= -10 && change <= 10) ? 0 : 1
}'
