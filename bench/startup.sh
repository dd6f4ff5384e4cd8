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
        local start end ms kb
        start=$(date +%s%N)
        /usr/bin/time -o "$HOME/rss" -f '%M' "$bench" "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        ms=$(((end - start) / 1000000))
        kb=$(tail -1 "$HOME/rss")
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
printf '  ratio velmo/floor: time %.2f, memory %.2f\n' "$(echo "$velmo_ms / $floor_ms" | bc -l)" \
    "$(echo "$velmo_kb / $floor_kb" | bc -l)"
