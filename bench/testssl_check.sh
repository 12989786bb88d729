#!/usr/bin/env bash
# Runs testssl.sh against Morlak's HTTPS listener on loopback, with a certificate made by
# `morlak --make-certificate`, and checks its findings: no SSLv2, SSLv3, TLS 1.0 or 1.1;
# no NULL, anonymous, export, LOW (RC4, DES) or 3DES suites; forward secrecy on every
# suite offered. Prints the summary and exits 1 when a check fails. Takes about half a
# minute; not part of the test run.
# Usage: bench/testssl_check.sh
set -euo pipefail
cd "$(dirname "$0")/.."

MORLAK_WITH_BENCH=1 scripts/install-deps.sh
scripts/build.sh >/dev/null

work=$(mktemp -d /tmp/morlak-testssl.XXXXXX)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

build/morlak --make-certificate --data-dir "$work" >/dev/null
sed -i 's/^certhttps=0/certhttps=1/' "$work/httpsettings.lst"
build/morlak --headless --data-dir "$work" --http-port 0 --https-port 0 >"$work/morlak.out" 2>&1 &
pid=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/.*- HTTPS server started (port=\([0-9]*\)).*/\1/p' "$work/morlak.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "HTTPS listener did not start:" >&2; cat "$work/morlak.out" >&2; exit 1; }

testssl --quiet --color 0 --warnings off --protocols --std --fs --cipher-per-proto \
  --csvfile "$work/result.csv" "127.0.0.1:$port" >"$work/result.txt" 2>&1 || true

# finding ID -> the finding text
finding() { awk -F'","' -v id="$1" '$1 == "\"" id { print $5 }' "$work/result.csv"; }

failed=0
check() { # description, actual, expected
  if [ "$2" = "$3" ]; then
    printf '  ok    %-40s %s\n' "$1" "$2"
  else
    printf '  FAIL  %-40s %s (wanted: %s)\n' "$1" "$2" "$3"
    failed=1
  fi
}

version=$(testssl --version 2>/dev/null | sed -n 's/^ *testssl *\([0-9][^ ]*\) from.*/\1/p' | head -1)
echo "testssl.sh $version against Morlak's HTTPS listener (127.0.0.1:$port)"
for p in SSLv2 SSLv3 TLS1 TLS1_1; do check "$p" "$(finding "$p")" "not offered"; done
check TLS1_2 "$(finding TLS1_2)" "offered"
check TLS1_3 "$(finding TLS1_3)" "offered with final"
for c in NULL aNULL EXPORT LOW 3DES_IDEA; do
  check "cipher list $c" "$(finding "cipherlist_$c")" "not offered"
done
check "forward secrecy" "$(finding PFS)" "offered"
total=$(grep -c '^"cipher-tls' "$work/result.csv" || true)
# Every offered suite's key exchange column is ECDH or DH (ephemeral in TLS 1.3 always).
without_fs=$(grep '^"cipher-tls' "$work/result.csv" | grep -vc '  ECDH \|  DH ' || true)
check "suites offered without forward secrecy" "$without_fs of $total" "0 of $total"
echo "Suites offered:"
grep '^"cipher-tls' "$work/result.csv" | awk -F'","' '{ print "  " $5 }' | tr -s ' '
exit $failed
