#!/usr/bin/env bash
# Sessions under load: cookie-less requests at full speed for 70 s with a 60 s session
# timeout, so every request starts a session and from second 60 on the cleaner ends them as
# fast as they come. The rate of the last 10 s must not fall more than 10 % below the
# first 10 s.
source "$(dirname "$0")/bench_common.sh"
build_bench_server
ensure_wrk
head -c 1024 /dev/urandom >"$BENCH_DIR/unused.bin"
start_server "$BENCH_DIR/unused.bin" 60000

read -r first _ firstCpu < <(run_wrk 10 /small)
read -r middle _ middleCpu < <(run_wrk 50 /small)
read -r last _ lastCpu < <(run_wrk 10 /small)
echo "seconds 0-10:  $first requests/s, server CPU $firstCpu us/request"
echo "seconds 10-60: $middle requests/s, server CPU $middleCpu us/request"
echo "seconds 60-70: $last requests/s, server CPU $lastCpu us/request"
exec 3>&-
wait "$SERVER_PID" || true
SERVER_PID=""
tail -n 1 "$BENCH_DIR/server.out"
# A slowdown beyond 10 % fails; a faster last window only reflects the machine's load.
awk -v a="$first" -v b="$last" -v ca="$firstCpu" -v cb="$lastCpu" 'BEGIN {
  change = (b - a) / a * 100
  printf "requests/s change: %+.1f %%, server CPU per request change: %+.1f %%\n", change, (cb - ca) / ca * 100
  ok = change >= -10
  print ok ? "no slowdown beyond 10 %" : "SLOWDOWN beyond 10 %"
  exit ok ? 0 : 1
}'
