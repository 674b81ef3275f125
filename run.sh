#!/usr/bin/env bash
# Installs what is missing, builds and starts Telvora playing the welcome movie.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/build.sh
# Without arguments the welcome movie plays; with them, they go to the program.
if [ $# -eq 0 ]; then
  set -- --play ./build/MOVIES/WELCOME.ATA
fi
exec ./build/telvora "$@"
