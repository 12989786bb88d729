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
