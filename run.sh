#!/usr/bin/env bash
# Installs what is missing, builds and starts Telvora playing the welcome movie.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/build.sh
exec ./build/telvora "$@"
