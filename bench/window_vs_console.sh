#!/usr/bin/env bash
# W1 (a 1 KiB html file, a new connection per request, 32 connections, wrk) against
# Morlak run twice back to back: the console front end (--headless, log to /dev/null) and
# the desktop window (on $DISPLAY when set, else Qt's offscreen platform), where every
# request line goes through the window's log view. Prints requests per second and the
# server's CPU time per request for both, and the machine's load.
# Usage: bench/window_vs_console.sh [seconds-per-run]
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-10}

MORLAK_WITH_BENCH=1 scripts/install-deps.sh
scripts/build.sh >/dev/null

work=$(mktemp -d /tmp/morlak-window-bench.XXXXXX)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/site"
head -c 1024 /dev/zero | tr '\0' 'a' >"$work/site/1k.html"
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done; echo "port $1 never opened" >&2; return 1; }
hz=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# run NAME [morlak options]: starts Morlak in a fresh data folder and measures W1.
run() {
  local name=$1 data=$work/$1 port before after out requests
  shift
  mkdir -p "$data"
  # Start the listener at once; a layout file keeps the first-run message away.
  printf '[settings]\r\nhomedirectory=%s/site/\r\nreplacedata=0\r\nlogtofile=0\r\nstartonstartup=1\r\n' \
    "$work" >"$data/httpsettings.lst"
  printf '[mainsettings]\r\ntabindex=0\r\n' >"$data/mainhttpsettings.lst"
  port=$(free_port)
  build/morlak "$@" --data-dir "$data" --http-port "$port" >/dev/null 2>&1 &
  pid=$!
  wait_port "$port"
  sleep 1
  before=$(cpu_ticks "$pid")
  out=$(wrk -t1 -c32 -d"${duration}s" -H 'Connection: close' "http://127.0.0.1:$port/1k.html")
  after=$(cpu_ticks "$pid")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=""
  requests=$(echo "$out" | awk '/requests in/ {print $1}')
  printf '%-8s %10s req/s %8s us CPU/request\n' "$name" \
    "$(echo "$out" | awk '/Requests\/sec/ {print $2}')" \
    "$(awk -v t=$((after - before)) -v hz="$hz" -v r="$requests" 'BEGIN {printf "%.1f", (r > 0 ? t / hz / r * 1e6 : 0)}')"
}

[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen
echo "load before: $(uptime)"
[ -n "${SKIP_CONSOLE:-}" ] || run console --headless
run window
echo "load after:  $(uptime)"
