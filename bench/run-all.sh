#!/usr/bin/env bash
# Every benchmark, on an optimised build: tools/dev bench
set -euo pipefail
build=${1:-build/bench}
"$build/bench/velmo_scan_bench"
"$(dirname "$0")/crawl.sh" "$build"
"$(dirname "$0")/https.sh" "$build"
"$(dirname "$0")/deep.sh" "$build"
"$(dirname "$0")/memory.sh" "$build"
"$(dirname "$0")/startup.sh" "$build"
