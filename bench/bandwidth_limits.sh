#!/usr/bin/env bash
# The bandwidth limits, measured with curl on loopback: a 10 MiB file with
# writespeed=1000000 and a 2 MiB POST with readspeed=500000, over HTTP and HTTPS (seconds,
# each ROUNDS times). Then W1 (1 KiB, a new connection per request, 32 connections, req/s)
# and W3 (64 MiB, a new connection per request, 4 connections, MB/s) with both limits 0,
# rounds interleaved between this build, nginx and, when BASELINE names the executable of
# an earlier build, that build. MORLAK names the executable to measure instead of a fresh
# build/morlak.
# Usage: bench/bandwidth_limits.sh [seconds-per-wrk-run] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-5}
rounds=${2:-3}
MORLAK_WITH_BENCH=1 scripts/install-deps.sh
morlak=${MORLAK:-build/morlak}
[ -n "${MORLAK:-}" ] || cmake --build build --target morlak -j2 >/dev/null

source bench/work_folder.sh limits
site=$work/site
mkdir -p "$site"
head -c 1024 /dev/zero | tr '\0' 'a' >"$site/1k.html"
head -c $((10 * 1024 * 1024)) /dev/urandom >"$site/10m.bin"
head -c $((64 * 1024 * 1024)) /dev/urandom >"$site/big.bin"
head -c $((2 * 1024 * 1024)) /dev/urandom >"$work/post.bin"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -subj /CN=localhost -days 2 2>/dev/null

# start_morlak NAME EXECUTABLE READSPEED WRITESPEED: sets port_NAME and tls_NAME.
start_morlak() {
  mkdir -p "$work/$1"
  printf '[settings]\r\nhomedirectory=%s/\r\nreplacedata=0\r\nlogtofile=0\r\ncerthttps=1\r\ncertcert=%s\r\ncertkey=%s\r\ncertroot=%s\r\nreadspeed=%s\r\nwritespeed=%s\r\n' \
    "$site" "$work/cert.pem" "$work/key.pem" "$work/cert.pem" "$3" "$4" >"$work/$1/httpsettings.lst"
  local port tls
  port=$(free_port)
  tls=$(free_port)
  "$2" --headless --data-dir "$work/$1" --http-port "$port" --https-port "$tls" >/dev/null 2>&1 &
  pids+=($!)
  wait_port "$port"
  wait_port "$tls"
  eval "port_$1=$port tls_$1=$tls"
}

start_morlak limited "$morlak" 500000 1000000
start_morlak unlimited "$morlak" 0 0
servers="unlimited nginx"
if [ -n "${BASELINE:-}" ]; then
  start_morlak baseline "$BASELINE" 0 0
  servers="baseline unlimited nginx"
fi
port_nginx=$(free_port)
start_nginx "$site" "listen 127.0.0.1:$port_nginx;"
wait_port "$port_nginx"

for scheme in http https; do
  if [ $scheme = http ]; then p=$port_limited; else p=$tls_limited; fi
  for r in $(seq "$rounds"); do
    get=$(curl -ks -o /dev/null -w '%{time_total}' "$scheme://127.0.0.1:$p/10m.bin")
    post=$(curl -ks -o /dev/null -w '%{time_total}' -H 'Expect:' --data-binary @"$work/post.bin" \
      "$scheme://127.0.0.1:$p/1k.html")
    echo "$scheme round $r: GET 10 MiB at writespeed=1000000: ${get} s; POST 2 MiB at readspeed=500000: ${post} s"
  done
done

# wrk_rate PORT PATH CONNECTIONS: "<req/s> <MB/s>"
wrk_rate() {
  wrk -H 'Connection: close' -c"$3" -t1 --timeout 30s -d"${duration}s" "http://127.0.0.1:$1$2" |
    awk '/^Requests\/sec:/ { r = $2 } /^Transfer\/sec:/ { v = $2; u = substr(v, length(v) - 1)
         n = substr(v, 1, length(v) - 2) + 0; if (u == "GB") n *= 1024; else if (u == "KB") n /= 1024
         m = n } END { printf "%.0f %.1f", r, m }'
}
for r in $(seq "$rounds"); do
  for s in $servers; do
    eval "p=\$port_$s"
    w1=$(wrk_rate "$p" /1k.html 32)
    w3=$(wrk_rate "$p" /big.bin 4)
    echo "round $r $s: W1 ${w1%% *} req/s; W3 ${w3##* } MB/s"
  done
done
