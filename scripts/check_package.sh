#!/usr/bin/env bash
# Checks the Debian package by hand (not part of CI): builds it (scripts/package.sh, lintian
# included), unpacks it into a throw-away root, checks what it holds, verifies the systemd
# unit, and runs the installed program twice as an unprivileged user whose HOME is an empty
# folder: the program folder appears under that home, the welcome page and the guide are
# served, and the second start finds the user's files as the user left them.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
failures=0
pass() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then pass "$what"; else fail "$what"; fi
}

scripts/package.sh
deb=$(ls build-deb/morlak_*.deb)

work=$(mktemp -d /tmp/morlak-package-check.XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
root=$work/root
dpkg -x "$deb" "$root"

echo "== contents"
for path in usr/bin/morlak usr/bin/morlak-update-server \
  usr/share/applications/morlak.desktop usr/share/icons/hicolor/scalable/apps/morlak.svg \
  usr/share/morlak/http/public/index.html usr/share/morlak/http/public/guide/index.html \
  usr/share/morlak/http/public/info.php usr/share/morlak/http/public/cgi-bin/info \
  usr/share/morlak/http/public/cgi-bin/serverinfo.dll usr/share/morlak/http/templates/filenotfound.html \
  usr/share/doc/morlak/guide/index.html usr/share/doc/morlak/copyright \
  usr/share/man/man1/morlak.1.gz lib/systemd/system/morlak.service; do
  check "$path" test -e "$root/$path"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
check "dependencies from the shared libraries (Qt, OpenSSL)" \
  bash -c "grep -q libqt6widgets6 <<<'$depends' && grep -q libssl3 <<<'$depends'"
check "php-cgi recommended" bash -c "dpkg-deb -f '$deb' Recommends | grep -qx php-cgi"
options=$("$root/usr/bin/morlak" --help | grep -o -- '--[a-z-]*' | sort -u)
man=$(zcat "$root/usr/share/man/man1/morlak.1.gz" | sed 's/\\-/-/g')
for option in $options; do
  check "man page names $option" grep -q -- "$option" <<<"$man"
done
if command -v desktop-file-validate >/dev/null; then
  check "desktop entry valid" desktop-file-validate "$root/usr/share/applications/morlak.desktop"
fi

echo "== systemd unit"
if ! command -v systemd-analyze >/dev/null; then
  echo "Installing: systemd"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends systemd
fi
unit=$root/lib/systemd/system/morlak.service
# The unit is checked inside the unpacked root (its ExecStart and its man page are found
# there), with the machine's own units for the targets it names.
cp -rn /lib/systemd/system/. "$root/lib/systemd/system/"
analysis=$(MANPATH="$root/usr/share/man" systemd-analyze verify --root="$root" "$unit" 2>&1) &&
  verified=1 || verified=0
[ -n "$analysis" ] && echo "$analysis"
if [ "$verified" = 1 ] && [ -z "$analysis" ]; then pass "systemd-analyze verify"; else
  fail "systemd-analyze verify"; fi
check "unit runs the console front end as user morlak in /var/lib/morlak" \
  grep -q '^ExecStart=/usr/bin/morlak --headless --data-dir /var/lib/morlak$' "$unit"
check "unit may bind ports 80 and 443" grep -q '^AmbientCapabilities=CAP_NET_BIND_SERVICE$' "$unit"
dpkg-deb -e "$deb" "$work/control"
check "no maintainer script enables the service" test ! -e "$work/control/postinst"

echo "== installed program as an unprivileged user"
home=$work/home
mkdir "$home"
chown nobody: "$home"
# Runs the installed program as "nobody" with HOME=$home until it logs its port; $1 = log.
start() {
  setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env -i HOME="$home" PATH=/usr/bin:/bin LC_ALL=C \
    "$root/usr/bin/morlak" --headless --http-port 0 >"$1" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do
    port=$(sed -n 's/.*HTTP server started (port=\([0-9]*\)).*/\1/p' "$1")
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  cat "$1"
  return 1
}
stop() {
  kill -TERM "$server_pid"
  wait "$server_pid" || true
  server_pid=
}
folder=$home/.local/share/morlak
start "$work/first.log"
grep -m1 'Running from' "$work/first.log"
check "first log line names the program folder" grep -q "Running from \[$folder/\]" "$work/first.log"
check "program folder made under HOME" test -f "$folder/http/public/index.html"
check "program folder belongs to the user" test "$(stat -c %U "$folder")" = nobody
welcome=$(curl -s --max-time 5 "http://127.0.0.1:$port/")
check "welcome page served" grep -q "Morlak is serving this folder" <<<"$welcome"
check "welcome page links the guide" grep -q 'href="/guide/"' <<<"$welcome"
guide=$(curl -s --max-time 5 "http://127.0.0.1:$port/guide/")
check "guide served" grep -q "<h1>Morlak user guide</h1>" <<<"$guide"
check "guide's tag names served as written" grep -q "&#124;&#124;BUILD" <<<"$guide"
stop
check "data files written on exit" test -f "$folder/httpsettings.lst"

# The user's own changes, which the second start must keep.
echo "<html><body>my own page</body></html>" >"$folder/http/public/index.html"
rm "$folder/http/public/info.php"
before=$(cd "$folder" && find http -type f -exec md5sum {} + | sort)
start "$work/second.log"
mine=$(curl -s --max-time 5 "http://127.0.0.1:$port/")
stop
after=$(cd "$folder" && find http -type f -exec md5sum {} + | sort)
check "second start serves the user's page" grep -q "my own page" <<<"$mine"
check "second start leaves the user's files unchanged" test "$before" = "$after"

echo "== update server"
check "morlak-update-server runs" "$root/usr/bin/morlak-update-server" --help

if [ "$failures" -eq 0 ]; then echo "All checks passed."; else echo "$failures check(s) failed."; fi
exit $((failures > 0))
