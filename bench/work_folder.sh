# Sourced by the benchmark scripts with a name: a scratch folder $work (readable by the
# unprivileged workers of nginx) and the background processes listed in $pids, both gone
# when the script ends.
work=$(mktemp -d "/tmp/morlak-$1.XXXXXX")
chmod 755 "$work"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done; echo "port $1 never opened" >&2; return 1; }

# start_nginx SITE SERVER-LINES [HTTP-LINES]: nginx as the benchmarks compare against it
# (a worker per core, sendfile, no access log) serving SITE; SERVER-LINES go into its server
# block (the listen lines), HTTP-LINES into its http block. Sets $nginx_pid.
start_nginx() {
  mkdir -p "$work/nginx"
  cat >"$work/nginx/nginx.conf" <<NGINX
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/nginx; proxy_temp_path $work/nginx; fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx; scgi_temp_path $work/nginx;
  ${3:-}
  server { $2 root $1; }
}
NGINX
  nginx -c "$work/nginx/nginx.conf" -g 'daemon off;' &
  nginx_pid=$!
  pids+=("$nginx_pid")
}

# Starts Morlak's console front end on a free port serving $work/site/1k.html (1 KiB, no
# replace tags, no log file) and waits until it listens; sets $port and $pid. Arguments are
# further settings lines ("sessiontimeout=10000"); with $tls_port set it listens for HTTPS
# there too (the settings must name the certificate).
start_console_1k() {
  mkdir -p "$work/site" "$work/morlak"
  head -c 1024 /dev/zero | tr '\0' 'a' >"$work/site/1k.html"
  printf '[settings]\r\nhomedirectory=%s/\r\nreplacedata=0\r\nlogtofile=0\r\n' "$work/site" \
    >"$work/morlak/httpsettings.lst"
  [ $# -eq 0 ] || printf '%s\r\n' "$@" >>"$work/morlak/httpsettings.lst"
  port=$(free_port)
  build/morlak --headless --data-dir "$work/morlak" --http-port "$port" \
    ${tls_port:+--https-port "$tls_port"} >/dev/null 2>&1 &
  pid=$!
  pids+=("$pid")
  wait_port "$port"
  [ -z "${tls_port:-}" ] || wait_port "$tls_port"
}
