#!/usr/bin/env bash
# Real clients that depend on byte ranges, against Morlak's console front end on loopback
# (not part of the test run):
#   resume  curl downloads a 64 MiB file, is cut off in the middle, resumes with "curl -C -",
#           and the result must be byte-identical to the file;
#   seek    headless Chromium opens a page whose <video> plays a WebM made here with ffmpeg,
#           sets currentTime to the middle of the video, and must see "seeked" fire; the
#           page reports it with a request the log shows, next to the 206 answers.
# Usage: bench/range_clients.sh [resume] [seek]   (both without arguments)
set -euo pipefail
cd "$(dirname "$0")/.."
checks=${*:-resume seek}

MORLAK_WITH_BROWSER=1 scripts/install-deps.sh
[ -x build/morlak ] || scripts/build.sh >/dev/null

source bench/work_folder.sh ranges
mkdir -p "$work/site" "$work/data"
printf '[settings]\r\nhomedirectory=%s/site/\r\nlogtofile=0\r\n' "$work" >"$work/data/httpsettings.lst"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
build/morlak --headless --data-dir "$work/data" --http-port "$port" >"$work/morlak.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
url=http://127.0.0.1:$port
failed=0

if [[ " $checks " == *" resume "* ]]; then
  head -c $((64 * 1024 * 1024)) /dev/urandom >"$work/site/big.bin"
  # Slow enough to be cut off about half-way.
  curl -s --limit-rate 16M --max-time 2 -o "$work/part.bin" "$url/big.bin" || true
  cut_at=$(stat -c %s "$work/part.bin")
  curl -s -C - -o "$work/part.bin" "$url/big.bin"
  if cmp -s "$work/part.bin" "$work/site/big.bin"; then
    echo "resume: cut off after $cut_at bytes, resumed with curl -C -: byte-identical"
  else
    echo "resume: FAILED, the resumed file differs (cut off after $cut_at bytes)"
    failed=1
  fi
  grep -E "big\.bin .* 206 " "$work/morlak.log" | sed 's/^/  log: /' | tail -n 1
fi

if [[ " $checks " == *" seek "* ]]; then
  # 30 s of noise, which no codec can shrink: about 30 MB, so a seek to the middle needs
  # a range of its own.
  ffmpeg -loglevel error -f lavfi -i "color=c=gray:s=320x240:r=10,noise=alls=100:allf=t" \
    -t 30 -c:v libvpx -deadline realtime -cpu-used 8 -b:v 8M "$work/site/video.webm"
  cat >"$work/site/seek.htm" <<'PAGE'
<video id="v" src="video.webm" preload="metadata" muted></video>
<script>
const v = document.getElementById("v");
v.addEventListener("loadedmetadata", () => { v.currentTime = v.duration / 2; });
v.addEventListener("seeked", () => { fetch("/seeked-at-" + v.currentTime.toFixed(1)); });
v.addEventListener("error", () => { fetch("/media-error-" + (v.error ? v.error.code : 0)); });
</script>
PAGE
  chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --user-data-dir="$work/profile" \
    "$url/seek.htm" >"$work/chromium.log" 2>&1 &
  browser=$!
  pids+=($browser)
  for _ in $(seq 600); do
    grep -qE "seeked-at-|media-error-" "$work/morlak.log" && break
    sleep 0.1
  done
  kill "$browser" 2>/dev/null || true
  sleep 0.5
  if grep -q "seeked-at-" "$work/morlak.log"; then
    echo "seek: \"seeked\" fired at $(grep -o 'seeked-at-[0-9.]*' "$work/morlak.log" | head -n 1 | cut -c11-) s of 30 s"
  else
    echo "seek: FAILED, no \"seeked\" event ($(grep -o 'media-error-[0-9]*' "$work/morlak.log" || echo 'no error either'))"
    failed=1
  fi
  grep "video\.webm" "$work/morlak.log" | sed 's/^/  log: /'
fi
exit $failed
