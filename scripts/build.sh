#!/usr/bin/env bash
# Configures and builds Telvora into build/ (Release with debug info).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTELVORA_WERROR="${TELVORA_WERROR:-OFF}"
cmake --build build -j "$(nproc)"
