#!/usr/bin/env bash
# How Morlak's cost grows with the number of concurrent connections: the console front
# end serving a 1 KiB page to 32, 100, 300 and 1000 wrk connections that each make a new
# connection per request (close, W1 of compare_servers.sh), or to 32, 300, 1000 and 3000
# kept connections (keep, W2), one bounded run each on a fresh server (so each holds the
# sessions of its own run only). Per run it reports
# requests per second, the 99th percentile of latency, the server's CPU time and context
# switches per request, its thread count and its resident memory after the run.
# Usage: bench/connection_scale.sh [seconds-per-run] [close|keep]
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-5}
mode=${2:-close}
if [ "$mode" = keep ]; then
  steps="32 300 1000 3000" header=()
else
  steps="32 100 300 1000" header=(-H 'Connection: close')
fi

MORLAK_WITH_BENCH=1 scripts/install-deps.sh
command -v perf >/dev/null || {
  echo "Installing linux-perf"
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends linux-perf >/dev/null
}
scripts/build.sh >/dev/null

work=$(mktemp -d /tmp/morlak-scale.XXXXXX)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
ulimit -n 8192  # 3000 client and 3000 server sockets

mkdir -p "$work/site" "$work/morlak"
head -c 1024 /dev/zero | tr '\0' 'a' >"$work/site/1k.html"
printf '[settings]\r\nhomedirectory=%s/\r\nreplacedata=0\r\nlogtofile=0\r\n' "$work/site" \
  >"$work/morlak/httpsettings.lst"
start_server() {
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  build/morlak --headless --data-dir "$work/morlak" --http-port "$port" >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
}
stop_server() {
  kill "$pid" && wait "$pid" 2>/dev/null || true
  pid=""
}

field() { awk -v k="$1" '$1 == k":" {print $2}' "/proc/$pid/status"; }
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); ${duration}s per run, $mode"
printf '%6s %9s %9s %11s %11s %8s %8s\n' conns req/s "p99 ms" "CPU us/req" "csw/req" threads "RSS MB"
hz=$(getconf CLK_TCK)
for conns in $steps; do
  start_server
  t0=$(ticks); peak=0
  perf stat -e context-switches -x, -o "$work/perf.out" -p "$pid" &
  perf_pid=$!
  sleep 0.3
  wrk -t1 -c"$conns" -d"${duration}s" --timeout 30s --latency "${header[@]}" \
    "http://127.0.0.1:$port/1k.html" >"$work/wrk.out" &
  wrk_pid=$!
  while kill -0 "$wrk_pid" 2>/dev/null; do
    threads=$(field Threads); [ "$threads" -gt "$peak" ] && peak=$threads
    sleep 0.2
  done
  wait "$wrk_pid"
  kill -INT "$perf_pid"; wait "$perf_pid" || true
  t1=$(ticks)
  requests=$(awk '/requests in/ {print $1}' "$work/wrk.out")
  grep -h 'Socket errors' "$work/wrk.out" >&2 || true
  p99=$(awk '$1 == "99%" { v = $2; u = v; sub(/[0-9.]+/, "", u); n = v + 0
      if (u == "us") n /= 1000; else if (u == "s") n *= 1000; printf "%.1f", n }' "$work/wrk.out")
  printf '%6s %9.0f %9s %11.1f %11.2f %8s %8.0f\n' "$conns" \
    "$(awk '/Requests\/sec/ {print $2}' "$work/wrk.out")" "$p99" \
    "$(awk -v t=$((t1 - t0)) -v hz="$hz" -v r="$requests" 'BEGIN {print t / hz / r * 1e6}')" \
    "$(awk -F, -v r="$requests" '$3 == "context-switches" {print $1 / r}' "$work/perf.out")" \
    "$peak" "$(awk -v kb="$(field VmRSS)" 'BEGIN {print kb / 1024}')"
  stop_server
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
