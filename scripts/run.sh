#!/usr/bin/env bash
# The main job: builds the driver, the simulator and the host tool, then runs
# the demonstration: the simulator answers on a pseudo-terminal as a plant of
# two instruments, and the host tool polls it through the driver, as the real
# host would poll a plant. On a terminal the table is redrawn live until
# Ctrl-C; elsewhere 20 rounds are printed line by line. Extra arguments go to
# the host tool instead, for example: scripts/run.sh decode 04 81 85 84 05
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null

if [ $# -gt 0 ]; then
  exec build/default/bin/mokta "$@"
fi
if [ -t 1 ]; then
  exec build/default/bin/mokta demo
fi
exec build/default/bin/mokta demo --rounds 20
