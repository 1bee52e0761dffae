#!/usr/bin/env bash
# The main job: builds velctl and runs the demo on the sample tree the repository ships.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target velctl
velctl=build/release/tools/velctl/velctl
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== velctl tree show samples/inspection.tree"
"$velctl" tree show samples/inspection.tree
echo
echo "== round trip: hex text -> binary -> raw record -> hex text"
"$velctl" tree convert samples/inspection.tree "$work/inspection.bin" --to bin
"$velctl" tree convert "$work/inspection.bin" "$work/inspection.raw" --to raw
"$velctl" tree convert "$work/inspection.raw" "$work/inspection.tree" --from raw --to hex
cmp samples/inspection.tree "$work/inspection.tree"
ls -l "$work" | tail -n +2
echo "identical after the round trip"
