#!/usr/bin/env bash
# Throughput of the HTTP engine on loopback: a handler answering a 1 KiB body and one
# streaming a 64 MiB file, each under wrk (Connection: close, 32 connections, 10 s).
source "$(dirname "$0")/bench_common.sh"
build_bench_server
ensure_wrk
head -c $((64 << 20)) /dev/urandom >"$BENCH_DIR/file64.bin"
start_server "$BENCH_DIR/file64.bin"

read -r rps mbs cpu < <(run_wrk 10 /small)
echo "1 KiB body:   $rps requests/s, $mbs MB/s, server CPU $cpu us/request"
read -r rps mbs cpu < <(run_wrk 10 /file)
echo "64 MiB file:  $rps requests/s, $mbs MB/s, server CPU $cpu us/request"
