#!/usr/bin/env bash
# Morlak's resident memory around a burst of sessions: the console front end, idle, then
# serving a 1 KiB page to cookie-less clients (W1 of compare_servers.sh: a new connection
# and so a new session per request, 32 connections) in RUNS back-to-back runs, then idle
# again until every session of the load has timed out and 90 s more. The session timeout
# is short (the second argument, seconds) so the wait stays short. It prints the resident
# memory idle, after each run (bounded by the session caps: loopback is one address, whose
# cap is 1,000 sessions), when the sessions have ended, and 90 s after that, with the last
# figure over the idle one.
# Usage: bench/session_memory.sh [seconds-per-run] [session-timeout-seconds] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-10}
timeout=${2:-10}
runs=${3:-2}

MORLAK_WITH_BENCH=1 scripts/install-deps.sh
scripts/build.sh >/dev/null

source bench/work_folder.sh session-memory

start_console_1k "sessiontimeout=$((timeout * 1000))"

rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"; }
mb() { awk -v kb="$1" 'BEGIN {printf "%.1f", kb / 1024}'; }
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); ${duration}s runs, session timeout ${timeout}s"
sleep 2
idle=$(rss_kb)
printf '%-34s %8s MB\n' "idle" "$(mb "$idle")"
for run in $(seq "$runs"); do
  out=$(wrk -t1 -c32 -d"${duration}s" --timeout 30s -H 'Connection: close' \
    "http://127.0.0.1:$port/1k.html")
  grep -h 'Socket errors\|Non-2xx' <<<"$out" >&2 || true
  printf '%-34s %8s MB  (%s req/s)\n' "after run $run" "$(mb "$(rss_kb)")" \
    "$(awk '/Requests\/sec/ {printf "%d", $2}' <<<"$out")"
done
# The cleaner looks once a second.
sleep $((timeout + 2))
printf '%-34s %8s MB\n' "sessions ended" "$(mb "$(rss_kb)")"
sleep 90
last=$(rss_kb)
printf '%-34s %8s MB  (%.2f x idle)\n' "90 s after the sessions ended" "$(mb "$last")" \
  "$(awk -v a="$last" -v b="$idle" 'BEGIN {print a / b}')"
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
