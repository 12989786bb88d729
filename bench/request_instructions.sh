#!/usr/bin/env bash
# User-space instructions per request of Morlak's console front end, counted by callgrind:
# an exact number of GETs of a 1 KiB file over kept connections (W2's path) or, with "close",
# on a new connection per request ("Connection: close", W1's path), after a warm-up whose
# instructions are not counted. Unlike a wall-clock rate on a shared machine the count
# repeats to a fraction of a percent, so two builds compare on one run each.
# Usage: bench/request_instructions.sh [morlak-binary] [connections] [requests-per-connection]
#        [keep|close]
# Writes the callgrind profile to $PWD/request_instructions.out for callgrind_annotate.
set -euo pipefail
out=$PWD/request_instructions.out
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/morlak}")
connections=${2:-4}
requests=${3:-500}
mode=${4:-keep}
MORLAK_WITH_BENCH=1 scripts/install-deps.sh
[ -n "${1:-}" ] || scripts/build.sh >/dev/null
source bench/work_folder.sh instructions
mkdir -p "$work/site" "$work/morlak"
head -c 1024 /dev/zero | tr '\0' 'a' >"$work/site/1k.html"
printf '[settings]\r\nhomedirectory=%s/\r\nreplacedata=0\r\nlogtofile=0\r\n' "$work/site" \
  >"$work/morlak/httpsettings.lst"
port=$(free_port)
valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$binary" --headless \
  --data-dir "$work/morlak" --http-port "$port" >/dev/null 2>"$work/valgrind.log" &
pid=$!
pids+=("$pid")
for _ in $(seq 300); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.2; done

# Each connection sends its requests one after the other and reads every answer whole.
fetch() { # requests-per-connection
  python3 - "$port" "$connections" "$1" "$mode" <<'PY'
import socket, sys, threading
port, connections, count = (int(a) for a in sys.argv[1:4])
close = sys.argv[4] == "close"
request = b"GET /1k.html HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n%s\r\n" % (
    port, b"Connection: close\r\n" if close else b"")
def client():
    s = None
    for _ in range(count):
        if s is None:
            s = socket.create_connection(("127.0.0.1", port))
            rest = b""
        s.sendall(request)
        while True:
            end = rest.find(b"\r\n\r\n")
            if end >= 0:
                head = rest[:end].decode().lower()
                length = int(head.split("content-length:")[1].split("\r\n")[0])
                if len(rest) >= end + 4 + length:
                    rest = rest[end + 4 + length:]
                    break
            data = s.recv(65536)
            if not data:
                raise SystemExit("connection closed early")
            rest += data
        if close:
            if s.recv(1):
                raise SystemExit("connection left open")
            s.close()
            s = None
    if s is not None:
        s.close()
threads = [threading.Thread(target=client) for _ in range(connections)]
for t in threads: t.start()
for t in threads: t.join()
PY
}
# A new connection per request is measured past the 1000 sessions one address may hold, so
# that each new session also ends that address's oldest, as in a long run.
if [ "$mode" = close ]; then fetch $(((1100 + connections - 1) / connections)); else fetch 20; fi
callgrind_control -z "$pid" >/dev/null 2>&1
fetch "$requests"
callgrind_control -d "$pid" >/dev/null 2>&1
sleep 1
kill "$pid"
wait "$pid" 2>/dev/null || true
cp "$work/callgrind.out.1" "$out"
total=$(callgrind_annotate "$out" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}')
echo "$((connections * requests)) requests ($mode): $total instructions, $((total / (connections * requests))) per request"
