#!/usr/bin/env bash
# Drives the built ostra-acquire as a user would, in folders of its own: ostra_acquire.sh PROGRAM CASE
set -uo pipefail
program=$1
case_name=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/app-data" OSTRA_SENSOR_BUS="$work/bus" TMPDIR="$work"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$XDG_DATA_HOME" "$OSTRA_SENSOR_BUS"

fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$work/stdout"; echo "--- stderr"; cat "$work/stderr"; exit 1; }

# Runs the program; expects exit status $1 (0, or "nonzero").
run() {
    local expected=$1
    shift
    timeout 240 "$program" "$@" >"$work/stdout" 2>"$work/stderr"
    local status=$?
    if [ "$expected" = 0 ] && [ $status -ne 0 ]; then fail "exit status $status"; fi
    if [ "$expected" = nonzero ] && { [ $status -eq 0 ] || [ $status -ge 124 ]; }; then fail "exit status $status"; fi
}

expect_error() { grep -qF "$1" "$work/stderr" || fail "no message \"$1\""; }

case "$case_name" in
biteswing-memory-one-row)
    run 0 --demo Biteswing --xfer memory --buffer-rows 1 --out "$work/out"
    for name in composite xray-1 xray-2 xray-3 xray-4; do
        file "$work/out/$name.png" | grep -q "PNG image data, .* 8-bit grayscale" || fail "$name.png"
    done
    [ "$(ls "$work/out" | wc -l)" -eq 5 ] || fail "not five images"
    file "$work/out/xray-1.png" | grep -q "1500 x 1000" || fail "xray-1.png is not 1500 x 1000"
    grep -q "Exposure 4 of 4: tile 4 drawn" "$work/stdout" || fail "no progress line"
    grep -q "5 images saved in $work/out" "$work/stdout" || fail "no summary"
    ;;
single-native-message-loop)
    run 0 --demo "Single Image" --xfer native --events process --out "$work/out" --screenshot "$work/dialog.png"
    file "$work/out/xray-1.bmp" | grep -q "PC bitmap, .* x 8" || fail "xray-1.bmp"
    [ "$(ls "$work/out" | wc -l)" -eq 1 ] || fail "not one image"
    file "$work/dialog.png" | grep -q "PNG image data" || fail "no screenshot"
    ;;
missing-dsm)
    run nonzero --dsm "$work/no-such-dsm.so" --out "$work/out"
    expect_error "cannot load the DSM $work/no-such-dsm.so"
    ;;
missing-source)
    run nonzero --source "No Such Scanner" --out "$work/out"
    expect_error 'no data source named "No Such Scanner"'
    ;;
unwritable-out)
    touch "$work/a-file"
    run nonzero --out "$work/a-file/images"
    expect_error "cannot create the output folder $work/a-file/images"
    ;;
interrupted)
    "$program" --out "$work/out" >"$work/stdout" 2>"$work/stderr" &
    pid=$!
    for _ in $(seq 600); do
        grep -q "Waiting for images" "$work/stdout" && break
        sleep 0.1
    done
    grep -q "Waiting for images" "$work/stdout" || { kill -KILL $pid; fail "the dialog never waited"; }
    kill -INT $pid
    # Closing the source must not hang.
    for _ in $(seq 600); do
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    kill -0 $pid 2>/dev/null && { kill -KILL $pid; fail "still running 60 s after Ctrl-C"; }
    wait $pid
    status=$?
    [ $status -eq 130 ] || fail "exit status $status"
    expect_error "interrupted; the source is closed"
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "PASS: $case_name"
