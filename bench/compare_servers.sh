#!/usr/bin/env bash
# Morlak's console front end, nginx and lighttpd side by side on loopback, serving the
# same folder, measured with wrk:
#   W1  a 1 KiB html file, a new connection per request, 32 connections
#   W1c the same with clients that keep their session: each sends back the session cookie
#       of its first answer (bench/keep_session_cookie.lua), so Morlak makes no session per
#       request
#   W2  the 1 KiB file over 32 kept connections (keep-alive: many requests per connection)
#   W3  a 64 MiB file over 4 kept connections (MB/s)
#   W4  a missing file, a new connection per request, 32 connections
#   W5  a CGI hello (one /bin/sh script for both servers that run CGI: Morlak and lighttpd's
#       mod_cgi), a new connection per request, 8 connections
#   W6  the 1 KiB file over HTTPS, a full RSA-2048 handshake per request (the client
#       resumes nothing), 16 connections, a new connection per request
#   W6r the same with resumption: each client connection offers its last session
#   W6k the 1 KiB file over HTTPS on 16 kept connections (one handshake per connection)
#   W6rk the 1 KiB file over HTTPS, 16 connections, each resuming its client's last session
#       and carrying 8 requests (keep-alive, the last asks the server to close)
#   W7  Morlak only: the sample extension library through the extension alias, a new
#       connection per request, 32 connections (every call ends with a 75 ms pause, so one
#       connection manages about 13 requests/s)
#   W8  random 64 KiB ranges of the 64 MiB file (bench/random_ranges.lua), a new
#       connection per request, 16 connections; every server must answer 206
# For each server and load it reports requests per second, MB/s, the 99th percentile of
# latency, the server's CPU time per request (user + system time of its processes over the
# run, divided by the requests served) and its resident memory right after the run (the
# sum over its processes). Every figure is measured in ROUNDS rounds, shown "a / b". The
# HTTPS loads run bench/tls_load.cpp, which counts resumed handshakes too (it reports no
# latency), in three turns per round that go from server to server.
# Usage: bench/compare_servers.sh [seconds-per-run] [rounds]   (LOADS="W1 W5" picks loads)
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-10}
rounds=${2:-2}
loads=${LOADS:-W1 W1c W2 W3 W4 W5 W6 W6r W6k W6rk W7 W8}

MORLAK_WITH_BENCH=1 scripts/install-deps.sh
scripts/build.sh >/dev/null
cmake --build build --target tls_load -j2 >/dev/null

source bench/work_folder.sh bench

site=$work/site
mkdir -p "$site" "$work/morlak"
head -c 1024 /dev/zero | tr '\0' 'a' >"$site/1k.html"
head -c $((64 * 1024 * 1024)) /dev/urandom >"$site/big.bin"
mkdir -p "$site/cgi-bin"
cp build/http/public/cgi-bin/serverinfo.dll "$site/cgi-bin/"
cat >"$site/cgi-bin/hello" <<'HELLO'
#!/bin/sh
printf 'Content-Type: text/plain\r\n\r\nhello\n'
HELLO
chmod 755 "$site/cgi-bin/hello"
# One RSA-2048 certificate and key for all three servers.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -subj /CN=localhost -days 2 2>/dev/null
chmod 644 "$work/key.pem"


# Morlak: tag replacement off, log to /dev/null.
# Extension libraries on (W7), which needs CGI off: both share the "/cgi-bin/" alias.
printf '[settings]\r\nhomedirectory=%s/\r\nreplacedata=0\r\nlogtofile=0\r\nenablecgiapplications=0\r\nenableisapilibraries=1\r\ncerthttps=1\r\ncertcert=%s\r\ncertkey=%s\r\ncertroot=%s\r\n' \
  "$site" "$work/cert.pem" "$work/key.pem" "$work/cert.pem" >"$work/morlak/httpsettings.lst"
morlak_port=$(free_port)
morlak_tls_port=$(free_port)
build/morlak --headless --data-dir "$work/morlak" --http-port "$morlak_port" \
  --https-port "$morlak_tls_port" >/dev/null 2>&1 &
pids+=($!)
morlak_pid=$!
# A second Morlak with CGI on (the default) for W5.
mkdir -p "$work/morlak-cgi"
printf '[settings]\r\nhomedirectory=%s/\r\nreplacedata=0\r\nlogtofile=0\r\n' \
  "$site" >"$work/morlak-cgi/httpsettings.lst"
morlak_cgi_port=$(free_port)
build/morlak --headless --data-dir "$work/morlak-cgi" --http-port "$morlak_cgi_port" >/dev/null 2>&1 &
pids+=($!)
morlak_cgi_pid=$!

nginx_port=$(free_port)
nginx_tls_port=$(free_port)
start_nginx "$site" "listen 127.0.0.1:$nginx_port; listen 127.0.0.1:$nginx_tls_port ssl;" \
  "ssl_certificate $work/cert.pem; ssl_certificate_key $work/key.pem;
  ssl_protocols TLSv1.2 TLSv1.3; ssl_session_cache shared:SSL:10m;"

lighttpd_port=$(free_port)
lighttpd_tls_port=$(free_port)
cat >"$work/lighttpd.conf" <<EOF
server.document-root = "$site"
server.port = $lighttpd_port
server.bind = "127.0.0.1"
server.network-backend = "sendfile"
mimetype.assign = (".html" => "text/html")
server.modules += ("mod_cgi", "mod_openssl")
\$HTTP["url"] =~ "^/cgi-bin/" { cgi.assign = ("" => "") }
\$SERVER["socket"] == "127.0.0.1:$lighttpd_tls_port" {
  ssl.engine = "enable"
  ssl.pemfile = "$work/cert.pem"
  ssl.privkey = "$work/key.pem"
}
EOF
lighttpd -D -f "$work/lighttpd.conf" &
pids+=($!)
lighttpd_pid=$!

wait_port "$morlak_port"; wait_port "$morlak_cgi_port"; wait_port "$nginx_port"; wait_port "$lighttpd_port"
wait_port "$morlak_tls_port"; wait_port "$nginx_tls_port"; wait_port "$lighttpd_tls_port"
sleep 0.5

# A process and its child processes (nginx workers).
family() { echo "$1" $(pgrep -P "$1" || true); }
# Clock ticks of user + system time.
cpu_ticks() {
  local total=0 p
  for p in $(family "$1"); do
    [ -r "/proc/$p/stat" ] || continue
    total=$((total + $(awk '{print $14 + $15}' "/proc/$p/stat")))
  done
  echo "$total"
}
# Resident memory in MB.
rss_mb() {
  local kb=0 p
  for p in $(family "$1"); do
    [ -r "/proc/$p/status" ] || continue
    kb=$((kb + $(awk '/^VmRSS:/ {print $2}' "/proc/$p/status")))
  done
  awk -v kb="$kb" 'BEGIN {printf "%.0f", kb / 1024}'
}
hz=$(getconf CLK_TCK)

declare -A rps mbs cpu p99 rss
# Appends a round's figure to a cell: "a", then "a / b".
put() { # array key value
  local -n cells=$1
  cells[$2]="${cells[$2]:+${cells[$2]} / }$3"
}
run() { # name pid port workload path connections size keep|close [wrk script]
  local name=$1 pid=$2 port=$3 load=$4 path=$5 conns=$6
  local before after out requests seconds header=(-H 'Connection: close') script=()
  [ "$8" = keep ] && header=()
  [ -n "${9:-}" ] && script=(-s "$9")
  before=$(cpu_ticks "$pid")
  out=$(wrk -t1 -c"$conns" -d"${duration}s" --timeout 30s --latency "${header[@]}" \
    "${script[@]}" "http://127.0.0.1:$port$path")
  after=$(cpu_ticks "$pid")
  if echo "$out" | grep -q 'Non-2xx'; then
    [ "$load" = W4 ] || echo "warning: $name answered errors on $path" >&2
  fi
  if echo "$out" | grep -q 'Socket errors'; then
    echo "warning: $name $load: $(echo "$out" | grep 'Socket errors')" >&2
  fi
  requests=$(echo "$out" | awk '/requests in/ {print $1}')
  seconds=$(echo "$out" | awk '/requests in/ {gsub("s,","",$4); print $4}')
  put rps "$name,$load" "$(echo "$out" | awk '/Requests\/sec/ {printf "%.0f", $2}')"
  put mbs "$name,$load" "$(awk -v r="$requests" -v s="$seconds" -v n="$7" 'BEGIN {printf "%.0f", r*n/s/1048576}')"
  put cpu "$name,$load" "$(awk -v t=$((after - before)) -v hz="$hz" -v r="$requests" \
    'BEGIN {printf "%.0f", (r > 0 ? t / hz / r * 1e6 : 0)}')"
  # wrk prints the 99th percentile as a number with its unit: 850.00us, 4.91ms, 1.20s.
  put p99 "$name,$load" "$(echo "$out" | awk '$1 == "99%" {
      v = $2; u = v; sub(/[0-9.]+/, "", u); n = v + 0
      if (u == "us") n /= 1000; else if (u == "s") n *= 1000; else if (u == "m") n *= 60000
      printf (n < 10 ? "%.1f" : "%.0f"), n }')"
  put rss "$name,$load" "$(rss_mb "$pid")"
}

# The HTTPS loads run in three rounds that take turns between the servers, so a change
# in the load of the shared machine falls on all three alike.
declare -A tls_port=([morlak]=$morlak_tls_port [nginx]=$nginx_tls_port [lighttpd]=$lighttpd_tls_port)
declare -A tls_requests tls_seconds tls_ticks
run_tls() { # name pid workload path connections
  local name=$1 pid=$2 load=$3 mode=full before after out
  [ "$load" = W6r ] && mode=resume
  [ "$load" = W6k ] && mode=keep
  [ "$load" = W6rk ] && mode="resume-keep 8"
  before=$(cpu_ticks "$pid")
  # $mode unquoted: "resume-keep 8" is two arguments.
  out=$(build/bench/tls_load "${tls_port[$name]}" "$4" "$5" "$(awk -v d="$duration" 'BEGIN {print d / 3}')" $mode)
  after=$(cpu_ticks "$pid")
  echo "$load $name: $out" >&2
  tls_requests[$name]=$((${tls_requests[$name]:-0} + $(echo "$out" | sed 's/.*requests=\([0-9]*\).*/\1/')))
  tls_seconds[$name]=$(awk -v a="${tls_seconds[$name]:-0}" -v b="$(echo "$out" | sed 's/.*seconds=\([0-9.]*\).*/\1/')" 'BEGIN {print a + b}')
  tls_ticks[$name]=$((${tls_ticks[$name]:-0} + after - before))
}
run_tls_rounds() { # workload path connections size
  local s pid_var
  tls_requests=() tls_seconds=() tls_ticks=()
  for _ in 1 2 3; do
    for s in morlak nginx lighttpd; do
      pid_var=${s}_pid
      run_tls $s "${!pid_var}" "$1" "$2" "$3"
    done
  done
  for s in morlak nginx lighttpd; do
    pid_var=${s}_pid
    put rps "$s,$1" "$(awk -v r="${tls_requests[$s]}" -v t="${tls_seconds[$s]}" 'BEGIN {printf "%.0f", r / t}')"
    put mbs "$s,$1" "$(awk -v r="${tls_requests[$s]}" -v t="${tls_seconds[$s]}" -v n="$4" 'BEGIN {printf "%.0f", r*n/t/1048576}')"
    put cpu "$s,$1" "$(awk -v t="${tls_ticks[$s]}" -v hz="$hz" -v r="${tls_requests[$s]}" \
      'BEGIN {printf "%.0f", (r > 0 ? t / hz / r * 1e6 : 0)}')"
    put p99 "$s,$1" "-"
    put rss "$s,$1" "$(rss_mb "${!pid_var}")"
  done
}

# The servers that take part in a load: nginx runs no CGI programs, and only Morlak runs
# extension libraries.
servers_of() {
  case $1 in
    W5) echo morlak lighttpd ;;
    W7) echo morlak ;;
    *) echo morlak nginx lighttpd ;;
  esac
}
# W8 measures nothing unless every server cuts the range out of the file.
if [[ " $loads " == *" W8 "* ]]; then
  for s in $(servers_of W8); do
    port_var=${s}_port
    got=$(curl -s -r 65536-131071 "http://127.0.0.1:${!port_var}/big.bin" | cmp - <(tail -c +65537 "$site/big.bin" | head -c 65536) && echo same)
    [ "$got" = same ] || { echo "$s does not answer byte ranges" >&2; exit 1; }
  done
fi
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $rounds rounds of ${duration}s runs"
for _ in $(seq "$rounds"); do
  for load in $loads; do
    keep=close script=
    case $load in
      W1) path=/1k.html conns=32 size=1024 ;;
      W1c) path=/1k.html conns=32 size=1024 script=bench/keep_session_cookie.lua ;;
      W2) path=/1k.html conns=32 size=1024 keep=keep ;;
      W6 | W6r | W6k | W6rk) path=/1k.html conns=16 size=1024 ;;
      W3) path=/big.bin conns=4 size=$((64 * 1024 * 1024)) keep=keep ;;
      W4) path=/missing.html conns=32 size=0 ;;
      W5) path=/cgi-bin/hello conns=8 size=6 ;;
      W7) path=/cgi-bin/serverinfo.dll conns=32 size=0 ;;
      W8) path=/big.bin conns=16 size=65536 script=bench/random_ranges.lua ;;
      *) echo "unknown load $load" >&2; exit 2 ;;
    esac
    if [[ $load == W6* ]]; then
      run_tls_rounds $load $path $conns $size
      continue
    fi
    for s in $(servers_of $load); do
      pid_var=${s}_pid port_var=${s}_port
      [ "$load/$s" = W5/morlak ] && pid_var=morlak_cgi_pid port_var=morlak_cgi_port
      run $s "${!pid_var}" "${!port_var}" $load $path $conns $size $keep $script
    done
  done
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"

printf '\n%-4s %-9s %15s %11s %15s %13s %11s\n' load server req/s MB/s "p99 ms" "CPU us/req" "RSS MB"
for load in $loads; do
  for s in $(servers_of $load); do
    printf '%-4s %-9s %15s %11s %15s %13s %11s\n' $load $s "${rps[$s,$load]}" "${mbs[$s,$load]}" \
      "${p99[$s,$load]}" "${cpu[$s,$load]}" "${rss[$s,$load]}"
  done
done

# Ratio of the rounds' means; "-" where a figure is missing.
ratio() {
  awk -v a="$1" -v b="$2" 'function mean(t,  n, i, f, s) { n = split(t, f, " / ")
      for (i = 1; i <= n; i++) s += f[i]; return s / n }
    BEGIN { x = mean(a); y = mean(b); if (x > 0 && y > 0) printf "%.2f", x / y; else printf "-" }'
}
printf '\nMorlak / peer, means of the rounds (req/s and MB/s: higher is better; p99, CPU, RSS: lower)\n'
printf '%-4s %-9s %7s %7s %7s %7s %7s\n' load peer req/s MB/s p99 CPU RSS
for load in $loads; do
  for s in $(servers_of $load); do
    [ $s = morlak ] && continue
    printf '%-4s %-9s %7s %7s %7s %7s %7s\n' $load $s \
      "$(ratio "${rps[morlak,$load]}" "${rps[$s,$load]}")" \
      "$(ratio "${mbs[morlak,$load]}" "${mbs[$s,$load]}")" \
      "$(ratio "${p99[morlak,$load]}" "${p99[$s,$load]}")" \
      "$(ratio "${cpu[morlak,$load]}" "${cpu[$s,$load]}")" \
      "$(ratio "${rss[morlak,$load]}" "${rss[$s,$load]}")"
  done
done
