#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
# Most tests spend their time waiting on lines, peers and timers, not on the
# processor: twice as many at once as there are cores halves the run.
ctest --test-dir build --output-on-failure --timeout 300 -j "$(( $(nproc) * 2 ))" "$@"
