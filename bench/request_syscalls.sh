#!/usr/bin/env bash
# System calls and context switches per request of Morlak's console front end, counted by
# the kernel's trace points (perf stat) over a bounded run. Unlike a tracer that stops the
# server at every call, they leave its pace alone, so whether a kept connection's next
# request is already there when an answer is done, or the connection waits for it in the
# readiness set, is what it would be without them:
#   W1   the 1 KiB file, a new connection per request, 32 connections
#   W2   the same over 32 kept connections
#   W4   a missing file, a new connection per request, 32 connections
#   W6k  the 1 KiB file over HTTPS on 16 kept connections (bench/tls_load keep)
#   W6rk the same, each connection resuming its client's last session and carrying 8
#        requests (tls_load resume-keep 8)
#   W6r  the same with a new resumed connection per request (tls_load resume)
# Prints, per load, the context switches ("switches") and each call made at least once in a
# hundred requests, as counts per request.
# Usage: bench/request_syscalls.sh [seconds]   (LOADS="W1 W6k" picks loads)
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-3}
# Trace points are the kernel's to hand out: root, or a system that lets everyone count.
if [[ $(id -u) != 0 && $(cat /proc/sys/kernel/perf_event_paranoid) -gt -1 ]]; then
  echo "request_syscalls.sh counts with kernel trace points: run it as root, or allow them" \
    "with 'sysctl kernel.perf_event_paranoid=-1'" >&2
  exit 1
fi
MORLAK_WITH_BENCH=1 scripts/install-deps.sh
scripts/build.sh >/dev/null
cmake --build build --target tls_load -j2 >/dev/null
source bench/work_folder.sh syscalls
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -subj /CN=localhost -days 2 2>/dev/null
tls_port=$(free_port)
start_console_1k certhttps=1 "certcert=$work/cert.pem" "certkey=$work/key.pem" \
  "certroot=$work/cert.pem"
calls=(futex epoll_wait epoll_ctl accept4 recvfrom read sendto write writev sendfile64 openat
  newfstatat pread64 close shutdown ioctl poll getpid)
events=context-switches,raw_syscalls:sys_enter$(printf ',syscalls:sys_enter_%s' "${calls[@]}")
for load in ${LOADS:-W1 W2 W4 W6k W6rk W6r}; do
  header=(-H 'Connection: close') path=/1k.html tls=()
  case $load in
    W2) header=() ;;
    W4) path=/missing.html ;;
    W6k) tls=(keep) ;;
    W6rk) tls=(resume-keep 8) ;;
    W6r) tls=(resume) ;;
  esac
  load_run() { # seconds; prints the requests served
    if [ ${#tls[@]} -gt 0 ]; then
      build/bench/tls_load "$tls_port" /1k.html 16 "$1" "${tls[@]}" |
        sed 's/.*requests=\([0-9]*\).*/\1/'
    else
      wrk -t1 -c32 -d"${1}s" "${header[@]}" "http://127.0.0.1:$port$path" |
        awk '/requests in/ {print $1}'
    fi
  }
  # Threads and tables warmed up first.
  load_run 1 >/dev/null
  # Threads started during the run are counted with the thread that starts them. perf
  # gives up when a thread of the server ends while it attaches (idle threads leave after
  # a while), so it is started again then.
  for attempt in 1 2 3; do
    perf stat -e "$events" -x, -o "$work/perf.txt" -p "$pid" 2>"$work/perf.err" &
    counter=$!
    sleep 0.5
    kill -0 "$counter" 2>/dev/null && break
    [ "$attempt" -lt 3 ] || { cat "$work/perf.err" >&2; exit 1; }
  done
  requests=$(load_run "$duration")
  kill -INT "$counter"
  wait "$counter" 2>/dev/null || true
  printf '%s (%s requests):' "$load" "$requests"
  awk -F, -v r="$requests" '$3 ~ /context-switches|sys_enter/ && $1 + 0 > 0 && $1 / r >= 0.01 {
      name = $3; sub(/.*sys_enter_?/, "", name); sub(/context-switches/, "switches", name)
      if (name == "") name = "all"
      printf " %s=%.2f", name, $1 / r }' "$work/perf.txt"
  echo
done
