#!/usr/bin/env bash
# Installs what is missing, builds, and starts Morlak with the options given
# (see build/morlak --help). This build has no desktop window: the console front end runs.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh
case " $* " in *" --headless "* | *" --help "* | *" --version "*) ;; *) set -- --headless "$@" ;; esac
exec build/morlak "$@"
