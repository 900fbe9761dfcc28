#!/usr/bin/env bash
# Times a new PC hall taking back 250, 500 and 1,000 games from disk, each in
# a fresh process, under Wine in a private prefix. Prints
# "startup N games: T ms" per size.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${ZV_BENCH_BUILD:-$("$root/tools/build" | tail -n 1)}
loader=$(cat "$build/wine-loader.txt")
export WINEPREFIX=$build/bench/startup/prefix WINEDEBUG=-all WINELOADER=$loader
rm -rf "$WINEPREFIX"
"$root/cmake/wine-prefix.sh" "$build" >/dev/null
wineserver -p
"$loader" cmd /c exit 0 >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
"$loader" "$build/bench/startup/Program/startup_bench.exe" | tee "$build/bench/startup/result.txt"
