#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test offscreen; ends in ctest's summary.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/setup.sh"
cd "${VARNOK_BUILD_DIR:-$here/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" "$@"
