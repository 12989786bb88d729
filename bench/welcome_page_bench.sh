#!/usr/bin/env bash
# Requests per second for the default welcome page with replace tags on and off
# (wrk, a new connection per request, 32 connections). Usage: bench/welcome_page_bench.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-10}
MORLAK_WITH_BENCH=1 scripts/install-deps.sh
scripts/build.sh >/dev/null

work=$(mktemp -d /tmp/morlak-welcome.XXXXXX)
server=""
cleanup() { [ -n "$server" ] && kill "$server" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
cp -r build/http "$work/"

measure() { # replacedata flag
  printf '[settings]\r\nreplacedata=%s\r\n' "$1" >"$work/httpsettings.lst"
  local port
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  build/morlak --headless --data-dir "$work" --http-port "$port" >/dev/null 2>&1 &
  server=$!
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
  local out
  out=$(wrk -t1 -c32 -d"${duration}s" -H 'Connection: close' "http://127.0.0.1:$port/")
  kill "$server"; wait "$server" 2>/dev/null || true; server=""
  echo "$out" | awk '/Requests\/sec/ {print $2}'
}

on=$(measure 1)
off=$(measure 0)
echo "welcome page, replace tags on:  $on requests/s"
echo "welcome page, replace tags off: $off requests/s"
