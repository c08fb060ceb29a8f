#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test offscreen; ends in ctest's summary.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/setup.sh"
# The tests start servers on loopback: ser2net is in /usr/sbin, which a user's PATH may lack;
# pymodbus is started with /usr/bin/python3 (or $VARNOK_PYTHON), whatever python3 PATH finds.
case ":$PATH:" in *:/usr/sbin:*) ;; *) export PATH="$PATH:/usr/sbin" ;; esac
cd "${VARNOK_BUILD_DIR:-$here/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" "$@"
