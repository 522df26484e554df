#!/usr/bin/env bash
# Installs what is missing, builds the monitor and the simulator (not the
# tests), and runs the simulator linked as COM1 in demo/ beside the monitor.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset default
cmake --build --preset default -j2 --target vqt540-monitor vqt540-sim
mkdir -p demo
build/default/sim/vqt540-sim --link-dir demo --link COM1 --quiet &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
sleep 0.5
if [ -x build/default/app/vqt540-monitor ]; then
  (cd demo && ../build/default/app/vqt540-monitor)
else
  wait $sim
fi
