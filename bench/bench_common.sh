# Shared by the engine benchmarks: build the bench server, make sure wrk is there, start
# and stop the server. Source it; it sets ROOT, BENCH_DIR and SERVER_PORT.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BENCH_DIR="$(mktemp -d)"
SERVER_PID=""

cleanup() {
  if [ -n "$SERVER_PID" ]; then
    exec 3>&- || true
    wait "$SERVER_PID" 2>/dev/null || true
  fi
  rm -rf "$BENCH_DIR"
}
trap cleanup EXIT

build_bench_server() {
  [ -f "$ROOT/build/CMakeCache.txt" ] || cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$ROOT/build" --target engine_bench -j2 >/dev/null
}

ensure_wrk() {
  command -v wrk >/dev/null && return
  echo "Installing wrk"
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends wrk >/dev/null
}

# start_server FILE [SESSION_TIMEOUT_MS]: the server runs until this script ends (its
# standard input is a pipe held open on descriptor 3).
start_server() {
  mkfifo "$BENCH_DIR/stdin"
  "$ROOT/build/bench/engine_bench" 0 "$@" <"$BENCH_DIR/stdin" >"$BENCH_DIR/server.out" 2>&1 &
  SERVER_PID=$!
  exec 3>"$BENCH_DIR/stdin"
  for _ in $(seq 100); do
    SERVER_PORT="$(sed -n 's/^listening on 127.0.0.1:\([0-9]*\)$/\1/p' "$BENCH_DIR/server.out")"
    [ -n "$SERVER_PORT" ] && return
    sleep 0.1
  done
  echo "bench server did not start:" >&2
  cat "$BENCH_DIR/server.out" >&2
  exit 1
}

# Server CPU time (user + system) in microseconds so far.
server_cpu_us() {
  awk -v hz="$(getconf CLK_TCK)" '{ printf "%.0f\n", ($14 + $15) * 1000000 / hz }' \
    "/proc/$SERVER_PID/stat"
}

# run_wrk SECONDS PATH: prints "<requests/s> <MB/s> <server CPU microseconds per request>".
# On a shared machine requests/s swing with the load of others; the CPU cost per request
# of the server is the steadier figure.
run_wrk() {
  local cpu_before cpu_after
  cpu_before="$(server_cpu_us)"
  wrk -H 'Connection: close' -c32 -t1 --timeout 30s -d"$1"s "http://127.0.0.1:$SERVER_PORT$2" \
    >"$BENCH_DIR/wrk.out"
  cpu_after="$(server_cpu_us)"
  awk -v cpu="$((cpu_after - cpu_before))" '
    /^Requests\/sec:/ { rps = $2 }
    /^Transfer\/sec:/ {
      v = $2; unit = substr(v, length(v) - 1); n = substr(v, 1, length(v) - 2) + 0
      if (unit == "GB") n *= 1024; else if (unit == "KB") n /= 1024; else if (unit != "MB") n /= 1048576
      mbs = n
    }
    /requests in/ { total = $1 }
    /Non-2xx|Socket errors/ { print "wrk: " $0 > "/dev/stderr" }
    END { printf "%.0f %.1f %.1f\n", rps, mbs, (total > 0 ? cpu / total : 0) }' "$BENCH_DIR/wrk.out"
}
