#!/usr/bin/env bash
# How many connections headless Chromium opens to load a page with 20 pictures from
# Morlak's HTTPS listener on loopback with keep-alive on (a self-signed certificate made
# here); counted from the distinct client ports of the log's request lines. Not part of
# the test run. Usage: bench/browser_connections.sh
set -euo pipefail
cd "$(dirname "$0")/.."
MORLAK_WITH_BROWSER=1 scripts/install-deps.sh
[ -x build/morlak ] || scripts/build.sh >/dev/null
source bench/work_folder.sh browser

mkdir -p "$work/data/site"
python3 - "$work/data/site" <<'PY'
import struct, sys, zlib
def png(shade):
    raw = b''.join(b'\x00' + bytes([shade, 100, 200]) * 16 for _ in range(16))
    chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 16, 16, 8, 2, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))
pictures = ''
for i in range(20):
    open(f'{sys.argv[1]}/p{i}.png', 'wb').write(png(i * 12))
    pictures += f'<img src="p{i}.png" width=32 height=32>'
open(f'{sys.argv[1]}/index.html', 'w').write(f'<html><body>{pictures}</body></html>')
PY
printf '[settings]\r\nhomedirectory=%s/data/site/\r\ncerthttps=1\r\n' "$work" >"$work/data/httpsettings.lst"
build/morlak --make-certificate --data-dir "$work/data" >/dev/null
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
build/morlak --headless --data-dir "$work/data" --http-port 0 --https-port "$port" >"$work/log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q "HTTPS server started" "$work/log" && break; sleep 0.1; done
timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/profile" --ignore-certificate-errors --virtual-time-budget=5000 \
  --dump-dom "https://localhost:$port/" >/dev/null 2>&1
sleep 1
requests=$(grep -ci "^.* https://" "$work/log" || true)
connections=$(grep -io "https://[^>]*> [^,]*," "$work/log" | awk '{print $2}' | sort -u | wc -l)
echo "requests: $requests  connections: $connections"
