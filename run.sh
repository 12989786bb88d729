#!/usr/bin/env bash
# Installs what is missing, builds, and starts Morlak with the options given (see
# build/morlak --help): the desktop window when a display is available, else the console
# front end.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh
case " $* " in
  *" --headless "* | *" --help "* | *" --version "*) ;;
  *)
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
      echo "run.sh: a display is available; opening the Morlak window (--headless for the console)"
    else
      echo "run.sh: no display (\$DISPLAY and \$WAYLAND_DISPLAY unset); running the console front end"
      set -- --headless "$@"
    fi
    ;;
esac
exec build/morlak "$@"
