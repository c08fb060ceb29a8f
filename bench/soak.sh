#!/usr/bin/env bash
# Soak run for the record: bench/soak.sh [SECONDS] (default 600), after a build into build/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "${VARNOK_BUILD_DIR:-$here/build}" --target soak -j"$(nproc)" >/dev/null
exec "${VARNOK_BUILD_DIR:-$here/build}/bench/soak" "${1:-600}"
