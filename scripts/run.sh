#!/usr/bin/env bash
# Sets up what is missing, builds, and starts the terminal. Extra arguments go to the
# program, e.g.  scripts/run.sh --port Com1=/dev/ttyUSB0
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
exec "${VARNOK_BUILD_DIR:-$here/build}/varnok-binary" "$@"
