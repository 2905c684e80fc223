#!/usr/bin/env bash
# Drives the built ostra-acquire as a user would, in folders of its own:
# ostra_acquire.sh PROGRAM CASE [SENSOR-SIM]
set -uo pipefail
program=$1
case_name=$2
sensor_sim=${3:-}
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

# The lines given, in this order, among the program's output.
expect_lines() {
    local line at=0 found
    for line in "$@"; do
        found=$(tail -n +$((at + 1)) "$work/stdout" | grep -nxF -m1 "$line" | cut -d: -f1)
        [ -n "$found" ] || fail "no line \"$line\" after line $at"
        at=$((at + found))
    done
}

# The source's log of the run in demo folder $1 says where its dialog turned: "caller" (the
# application's message loop, --events process) or "own" (a thread of the source's own).
expect_turned_by() {
    local log="$1/app-data/vanto_sensor/ds.log" line
    case $2 in
    caller) line="user interface events turned by the application's message loop" ;;
    own) line="user interface thread started" ;;
    esac
    grep -qxF "$line" "$log" || fail "the dialog's events were not turned by the $2 thread ($log)"
}

# The folder holds exactly these images of a series saved as $1 files: composite, xray-1 ... xray-$2.
expect_series() {
    local folder=$1 extension=$2 tiles=$3 names=(composite) i
    for i in $(seq "$tiles"); do names+=("xray-$i"); done
    [ "$(ls "$folder" | wc -l)" -eq $((tiles + 1)) ] || fail "not $((tiles + 1)) images in $folder"
    for i in "${names[@]}"; do [ -s "$folder/$i.$extension" ] || fail "no $i.$extension"; done
    local saved=()
    for i in "${names[@]}"; do saved+=("Saved $folder/$i.$extension (1500 x 1000)"); done
    saved[0]=$(grep -F "Saved $folder/composite.$extension (" "$work/stdout") || fail "no composite saved"
    expect_lines "${saved[@]}" "$((tiles + 1)) images saved in $folder"
}

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
    run 0 --demo "Single Image" --xfer native --events process --out "$work/out" --screenshot "$work/dialog.png" \
        --demo-folder "$work/demo"
    file "$work/out/xray-1.bmp" | grep -q "PC bitmap, .* x 8" || fail "xray-1.bmp"
    [ "$(ls "$work/out" | wc -l)" -eq 1 ] || fail "not one image"
    file "$work/dialog.png" | grep -q "PNG image data" || fail "no screenshot"
    expect_turned_by "$work/demo" caller
    ;;
biteswing-retake-message-loop)
    # The message loop turns the dialog: a memory series with a retake, then a series whose first
    # notice is refused (the dialog comes back, Save again), then Esc with unsaved images.
    run 0 --demo Biteswing --xfer memory --events process --out "$work/out" --demo-folder "$work/demo" \
        --steps "expose,expose,retake 2,expose,expose,expose,save"
    expect_lines "Exposure 2 of 5: tile 2 drawn" "Re-take of tile 2: its next exposure replaces it" \
        "Exposure 3 of 5: tile 2 drawn" "Exposure 5 of 5: tile 4 drawn"
    expect_series "$work/out" png 4
    expect_turned_by "$work/demo" caller
    run 0 --demo Biteswing --xfer memory --events process --refuse-first-xferready --out "$work/refused" \
        --demo-folder "$work/demo"
    expect_lines "Exposure 4 of 4: tile 4 drawn" \
        "The images were refused: the dialog shows again with 4 of 4 tiles drawn; Save pressed again"
    expect_series "$work/refused" png 4
    run 0 --demo Biteswing --events process --out "$work/esc" --demo-folder "$work/demo" --steps "expose,expose,esc"
    expect_lines "Exposure 2 of 2: tile 2 drawn" "Escape pressed: the dialog closes" "0 images saved in $work/esc"
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
retake-mid-series)
    # The same sensor without a retake: exposure N in tile N.
    run 0 --demo Biteswing --xfer native --out "$work/plain"
    run 0 --demo Biteswing --xfer native --out "$work/out" --steps "expose,expose,retake 1,expose,expose,expose,save"
    expect_lines "Exposure 2 of 5: tile 2 drawn" "Re-take of tile 1: its next exposure replaces it" \
        "Exposure 3 of 5: tile 1 drawn" "Exposure 4 of 5: tile 3 drawn" "Exposure 5 of 5: tile 4 drawn"
    expect_series "$work/out" bmp 4
    cmp -s "$work/out/xray-1.bmp" "$work/plain/xray-3.bmp" || fail "tile 1 is not the retaken exposure 3"
    cmp -s "$work/out/xray-2.bmp" "$work/plain/xray-2.bmp" || fail "tile 2 is not exposure 2"
    cmp -s "$work/out/xray-3.bmp" "$work/plain/xray-4.bmp" || fail "tile 3 is not exposure 4"
    ;;
unplug-replug)
    run 0 --demo Biteswing --xfer memory --out "$work/out" --steps "expose,expose,unplug,plug,expose,expose,save"
    expect_lines "Exposure 2 of 4: tile 2 drawn" \
        'Sensor unplugged: the dialog shows "Device Disconnected", its lamp red' \
        'Sensor plugged in: the dialog shows "Device Connected !", its lamp green' \
        "Exposure 3 of 4: tile 3 drawn" "Exposure 4 of 4: tile 4 drawn"
    expect_series "$work/out" png 4
    ;;
first-time-sensor)
    run 0 --demo "Single Image" --new-sensor --xfer native --out "$work/out" --demo-folder "$work/demo"
    disk=$(OSTRA_SENSOR_BUS="$work/demo/sensor-bus" "$sensor_sim" list | sed -n 's/.*corrections=//p')
    [ -n "$disk" ] || fail "sensor-sim lists no calibration disk"
    expect_lines "The dialog asks for the sensor's corrections: given its calibration disk $disk" \
        "Exposure 1 of 1: tile 1 drawn" "1 image saved in $work/out"
    data="$work/demo/app-data/vanto_sensor"
    cmp -s "$disk/SN1001.gn" "$data/work_dir/SN1001/Correct/Default/SN1001.gn" || fail "corrections not installed"
    grep -qx "loadCalibrartionFiles 4: 2 def: 1 gn: 1" "$data/ds.log" || fail "the exchange took other files"
    grep -q '"SN1001"' "$data/config.json" || fail "the sensor is not recorded"
    ;;
refused-xferready)
    run 0 --demo Biteswing --refuse-first-xferready --xfer memory --out "$work/out" --demo-folder "$work/demo"
    expect_lines "Exposure 4 of 4: tile 4 drawn" \
        "The images were refused: the dialog shows again with 4 of 4 tiles drawn; Save pressed again"
    expect_series "$work/out" png 4
    grep -q "transfer refused: dialog shown again" "$work/demo/app-data/vanto_sensor/ds.log" || fail "no refusal logged"
    ;;
two-applications)
    run 0 --demo "Single Image" --xfer native --out "$work/first" --demo-folder "$work/demo"
    run 0 --demo "Single Image" --xfer native --out "$work/second" --demo-folder "$work/demo" --events process
    expect_lines "Exposure 1 of 1: tile 1 drawn" "Saved $work/second/xray-1.bmp (1000 x 1500)"
    [ -s "$work/first/xray-1.bmp" ] || fail "the first application saved nothing"
    cmp -s "$work/first/xray-1.bmp" "$work/second/xray-1.bmp" && fail "the second application got the first's image"
    [ "$(OSTRA_SENSOR_BUS="$work/demo/sensor-bus" "$sensor_sim" list | grep -c SN1001)" -eq 1 ] ||
        fail "the sensor is not plugged once"
    [ "$(ls "$work/demo/app-data/vanto_sensor/work_dir")" = SN1001 ] || fail "another work folder appeared"
    ;;
in-callback | in-callback-message-loop)
    # An application that transfers, disables and even closes from inside the source's notification,
    # after each way the dialog can end: Save, Auto Save, Esc and the window's close button.
    events=callback
    [ "$case_name" = in-callback-message-loop ] && events=process
    run 0 --demo Biteswing --events $events --in-callback all --xfer memory --out "$work/save" \
        --demo-folder "$work/demo"
    expect_series "$work/save" png 4
    if [ $events = process ]; then expect_turned_by "$work/demo" caller; else expect_turned_by "$work/demo" own; fi
    run 0 --demo Biteswing --events $events --in-callback transfers --xfer native --out "$work/auto" \
        --steps "autosave,expose,expose,expose,expose"
    expect_lines "Auto Save on: the exposure that fills the last tile saves" "Exposure 3 of 4: tile 3 drawn" \
        "Exposure 4 of 4: Auto Save handed the series over"
    expect_series "$work/auto" bmp 4
    run 0 --demo Biteswing --events $events --in-callback all --out "$work/esc" --steps "expose,expose,esc"
    expect_lines "Exposure 2 of 2: tile 2 drawn" "Escape pressed: the dialog closes" "0 images saved in $work/esc"
    run 0 --demo Biteswing --events $events --in-callback transfers --out "$work/close" --steps "expose,close"
    expect_lines "The window's close button pressed: the dialog closes" "0 images saved in $work/close"
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
