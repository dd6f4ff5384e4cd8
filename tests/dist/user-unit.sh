#!/usr/bin/env bash
# The user service's unit file passes systemd-analyze verify, its man page reference included.
#   usage: user-unit.sh UNIT_FILE MAN_DIR    (exit 77, skipped, where systemd-analyze is missing)
set -euo pipefail
unit=$1
mandir=$2

if ! command -v systemd-analyze >/dev/null; then
    echo "SKIP: systemd-analyze is not installed (Debian package systemd)"
    exit 77
fi
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
# A user manager's runtime folder of our own, so verify needs no running session; warnings
# about unknown keys or bad values are printed with exit status 0, so any output fails.
if ! output=$(XDG_RUNTIME_DIR=$runtime MANPATH=$mandir systemd-analyze verify --user "$unit" 2>&1) ||
    [ -n "$output" ]; then
    echo "FAIL: systemd-analyze verify --user $unit"
    echo "$output"
    exit 1
fi
echo "PASS: $unit verifies"
