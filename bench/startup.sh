#!/usr/bin/env bash
# Time to build, show and quit the window on the offscreen platform, and peak memory, beside a
# bare tabbed dialog built the same way (the floor).
# usage: bench/startup.sh BUILD_DIR
set -euo pipefail
bench=$(realpath "${1:-build/bench}/bench/velmo_startup_bench")
export QT_QPA_PLATFORM=offscreen HOME=$(mktemp -d)
trap 'rm -rf "$HOME"' EXIT

measure() {
    local best_ms=999999 peak=0
    for _ in $(seq 10); do
        local out
        out=$( { /usr/bin/time -f '%e %M' "$bench" "$@" 2>/dev/null; } 2>&1 | tail -1)
        local ms kb
        ms=$(echo "$out" | awk '{printf "%d", $1 * 1000}')
        kb=$(echo "$out" | awk '{print $2}')
        [ "$ms" -lt "$best_ms" ] && best_ms=$ms
        [ "$kb" -gt "$peak" ] && peak=$kb
    done
    echo "$best_ms $peak"
}

read -r velmo_ms velmo_kb < <(measure)
read -r floor_ms floor_kb < <(measure --floor)
printf 'start-up, show and quit, best of 10 (offscreen)\n'
printf '  velmo: %4d ms, peak %6d KiB\n' "$velmo_ms" "$velmo_kb"
printf '  floor: %4d ms, peak %6d KiB\n' "$floor_ms" "$floor_kb"
printf '  memory ratio: %.2f\n' "$(echo "$velmo_kb / $floor_kb" | bc -l)"
