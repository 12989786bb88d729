#!/usr/bin/env bash
# Many connections that open and send nothing, held against Morlak's console front end: the
# time of a normal request meanwhile, the server's threads and resident memory with them
# open, and how long until the server has closed every one of them (its header bound).
# Usage: bench/idle_connections.sh [connections]
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-5000}
scripts/build.sh >/dev/null

source bench/work_folder.sh idle
ulimit -n $((count * 2 + 1000))

start_console_1k

python3 - "$port" "$count" "$pid" <<'EOF'
import selectors, socket, subprocess, sys, time
port, count, pid = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
def status(key):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith(key + ":"):
            return int(line.split()[1])
def request_ms():
    out = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{time_total}",
                          f"http://127.0.0.1:{port}/1k.html"], capture_output=True, text=True)
    return float(out.stdout) * 1000
base = sorted(request_ms() for _ in range(5))[2]
sel = selectors.DefaultSelector()
start = time.monotonic()
for _ in range(count):
    s = socket.create_connection(("127.0.0.1", port))
    s.setblocking(False)
    sel.register(s, selectors.EVENT_READ)
time.sleep(3)  # accepted (the listener defers accepts up to a second)
during = sorted(request_ms() for _ in range(5))[2]
print(f"{count} idle connections: request {base:.1f} ms before, {during:.1f} ms with them open "
      f"(medians of 5); threads {status('Threads')}; RSS {status('VmRSS') / 1024:.0f} MB")
open_ = count
while open_ and time.monotonic() - start < 60:
    for key, _ in sel.select(timeout=1):
        try:
            data = key.fileobj.recv(1)
        except ConnectionError:
            data = b""
        if not data:
            sel.unregister(key.fileobj)
            key.fileobj.close()
            open_ -= 1
print(f"all but {open_} closed by the server {time.monotonic() - start:.1f} s after the first opened; "
      f"threads {status('Threads')}")
EOF
