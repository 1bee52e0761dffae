#!/usr/bin/env bash
# The main job: builds velctl and drives the appliance with it, first in-process ("loopback"),
# then over TCP against a velserver started here; then the tree-file round trip.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target velctl
velctl=build/release/tools/velctl/velctl
work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# Keep the demo's appliance data and client settings out of the user's folders.
export XDG_DATA_HOME="$work/data" VEL_ENGINE_ROOT="$work/engine"

run() { echo "\$ velctl $*"; "$velctl" "$@"; echo; }

echo "== the appliance in-process (loopback)"
run info
run tree
run param get 1
run param set 2 6
run param get 2 --json
head -c 70000 /dev/urandom >"$work/image.bin"
run push "$work/image.bin" '\image.bin'
run ls '\' --json
run pull '\image.bin' "$work/back.bin"
cmp "$work/image.bin" "$work/back.bin" && echo "pulled file identical" && echo
echo "\$ velctl push $work/image.bin '\\..\\outside.bin'   (leaves the device: refused)"
"$velctl" push "$work/image.bin" '\..\outside.bin' || echo "exit status $?"
echo
run watch --count 100

echo "== the same over TCP, against a velserver started here"
export VEL_SERVER_PORT=$((20000 + RANDOM % 20000))
build/release/bin/velserver --port "$VEL_SERVER_PORT" --root "$work/server" --rate 20 >/dev/null &
server_pid=$!
for _ in $(seq 50); do "$velctl" --host 127.0.0.1 --mode 2 info >/dev/null 2>&1 && break; sleep 0.1; done
run --host 127.0.0.1 set AppVar.Speed 12.5
run --host 127.0.0.1 set AppVar.Label "line 1"
run --host 127.0.0.1 tree
run --host 127.0.0.1 get AppVar.Speed --json
run --host 127.0.0.1 watch --count 100
run --host 127.0.0.1 stats
run --host 127.0.0.1 counters --json
kill "$server_pid"; wait "$server_pid" 2>/dev/null || true; server_pid=
echo "\$ velctl --host 127.0.0.1 info   (server stopped)"
"$velctl" --host 127.0.0.1 info || echo "exit status $?"
echo

echo "== tree files: hex text -> binary -> raw record -> hex text"
"$velctl" tree convert samples/appliance.tree "$work/appliance.bin" --to bin
"$velctl" tree convert "$work/appliance.bin" "$work/appliance.raw" --to raw
"$velctl" tree convert "$work/appliance.raw" "$work/appliance.tree" --from raw --to hex
cmp samples/appliance.tree "$work/appliance.tree"
echo "identical after the round trip"
