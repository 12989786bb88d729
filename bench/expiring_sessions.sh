#!/usr/bin/env bash
# Serving while a burst of sessions ends: Morlak's console front end serves a 1 KiB page
# (W1 of compare_servers.sh: a new connection and so a new session per request, 32
# connections) in a first run; the second run starts when the first run's sessions reach
# their 60 s timeout, so they end while it serves. Per run it reports requests per
# second, the 99th percentile of latency, the server's CPU time per request and its
# resident memory after the run. A pause of 1 s gives the same two runs without the
# sessions ending in between.
# Usage: bench/expiring_sessions.sh [seconds-per-run] [pause-seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-10}
pause=${2:-52}

MORLAK_WITH_BENCH=1 scripts/install-deps.sh
scripts/build.sh >/dev/null

source bench/work_folder.sh expiry

start_console_1k

ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); ${duration}s runs, ${pause}s apart"
printf '%4s %9s %8s %11s %8s\n' run req/s "p99 ms" "CPU us/req" "RSS MB"
for run in 1 2; do
  t0=$(ticks)
  out=$(wrk -t1 -c32 -d"${duration}s" --timeout 30s --latency -H 'Connection: close' \
    "http://127.0.0.1:$port/1k.html")
  t1=$(ticks)
  requests=$(awk '/requests in/ {print $1}' <<<"$out")
  p99=$(awk '$1 == "99%" {v = $2; if (v ~ /us$/) v = v / 1000; else if (v ~ /ms$/) v = v + 0;
        else if (v ~ /s$/) v = v * 1000; print v}' <<<"$out")
  printf '%4s %9s %8s %11.1f %8d\n' "$run" "$(awk '/Requests\/sec/ {printf "%d", $2}' <<<"$out")" \
    "$p99" "$(echo "($t1 - $t0) * 1000000 / $hz / $requests" | bc -l)" \
    "$(($(awk '/VmRSS/ {print $2}' "/proc/$pid/status") / 1024))"
  [ "$run" = 1 ] && sleep "$pause"
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
