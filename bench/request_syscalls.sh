#!/usr/bin/env bash
# System calls per request of Morlak's console front end under wrk, counted by strace over
# a bounded run (strace slows the server, but the count per request is what it is):
#   W1  the 1 KiB file, a new connection per request, 32 connections
#   W2  the same over 32 kept connections
#   W4  a missing file, a new connection per request, 32 connections
# Prints, per load, each call made at least once in a hundred requests, as calls per request.
# Usage: bench/request_syscalls.sh [seconds]   (LOADS="W1 W2" picks loads)
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-3}
MORLAK_WITH_BENCH=1 scripts/install-deps.sh
scripts/build.sh >/dev/null
source bench/work_folder.sh syscalls
start_console_1k
for load in ${LOADS:-W1 W2 W4}; do
  header=(-H 'Connection: close') path=/1k.html
  case $load in
    W2) header=() ;;
    W4) path=/missing.html ;;
  esac
  # Threads and tables warmed up first.
  wrk -t1 -c32 -d1s "${header[@]}" "http://127.0.0.1:$port$path" >/dev/null
  strace -c -f -p "$pid" -o "$work/strace.txt" 2>/dev/null &
  tracer=$!
  sleep 0.5
  requests=$(wrk -t1 -c32 -d"${duration}s" "${header[@]}" "http://127.0.0.1:$port$path" |
    awk '/requests in/ {print $1}')
  kill -INT "$tracer"
  wait "$tracer" 2>/dev/null || true
  printf '%s (%s requests):' "$load" "$requests"
  awk -v r="$requests" '$NF ~ /^[a-z_0-9]+$/ && $4 + 0 > 0 && $4 / r >= 0.01 {
      printf " %s=%.2f", $NF, $4 / r }' "$work/strace.txt"
  echo
done
