#!/usr/bin/env bash
# The acquisition dialog on a real X server: Xvfb (1366 x 768) with Qt's xcb platform and a window
# manager (openbox), driven by real input events (xdotool) and checked on screenshots (ImageMagick).
# A first-time sensor: the corrections question and the chooser (its typed path must be readable),
# then expose, select, adjust, retake, Esc with an unsaved image (answered No), and Save.
# xvfb_dialog.sh OSTRA-ACQUIRE SENSOR-SIM [SCREENSHOT-FOLDER]
set -uo pipefail
program=$1
sensor_sim=$2
shots=${3:-}
for tool in Xvfb openbox xdotool xwininfo import convert compare; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
[ -n "$shots" ] || shots="$work/shots"
mkdir -p "$shots"
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

export XDG_DATA_HOME="$work/app-data" OSTRA_SENSOR_BUS="$work/bus" TMPDIR="$work"
mkdir -p "$XDG_DATA_HOME" "$OSTRA_SENSOR_BUS"
log="$XDG_DATA_HOME/vanto_sensor/ds.log"

fail() {
    echo "FAIL: $*"
    import -display "$DISPLAY" -window root "$shots/failure.png" 2>/dev/null
    echo "--- stdout"; cat "$work/stdout" 2>/dev/null
    echo "--- stderr"; cat "$work/stderr" 2>/dev/null
    echo "--- log (tail)"; tail -n 40 "$log" 2>/dev/null
    exit 1
}

# Waits up to $1 seconds for the command that follows to succeed.
within() {
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds * 10; i++)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}
logged() { grep -qF -- "$1" "$log"; }
window() { xdotool search --onlyvisible --name "$1" | head -n1; }
shot() { import -display "$DISPLAY" -window root "$shots/$1.png" || fail "no screenshot $1"; }
key() { xdotool key --clearmodifiers "$@"; sleep 0.3; }

# A display of our own.
n=90
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
export DISPLAY=":$n" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
Xvfb "$DISPLAY" -screen 0 1366x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
within 20 xdotool getdisplaygeometry || fail "Xvfb did not start"
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
within 20 pgrep -f "openbox" || fail "openbox did not start"
sleep 1

# A sensor this machine has never seen; its calibration disk is in the bus folder.
"$sensor_sim" plug SN2001 --frames plain >/dev/null || fail "plug"
disk=$("$sensor_sim" list | sed -n 's/.*corrections=\([^ ]*\).*/\1/p' | head -n1)
[ -d "$disk" ] || fail "no calibration disk"

"$program" --xfer memory --out "$work/out" >"$work/stdout" 2>"$work/stderr" &
app=$!
pids+=($app)

# The corrections question, then the chooser.
within 60 window '^Ostra$' || fail "no corrections question"
within 10 logged "handle_calibration_dialog 1" || fail "not the corrections question"
shot question
xdotool windowactivate --sync "$(window '^Ostra$')"
key Return
within 20 window 'Select Corrections Folder' || fail "no folder chooser"
chooser=$(window 'Select Corrections Folder')
xdotool windowactivate --sync "$chooser"
sleep 0.5
shot chooser-empty
xdotool type --delay 20 "$disk"
sleep 0.5
shot chooser-typed
# The typed path's pixels: where the two pictures differ. Its darkest and lightest grey must be far
# apart (dark text on black or light on white is unreadable).
box=$(compare "$shots/chooser-empty.png" "$shots/chooser-typed.png" -compose src -highlight-color white \
    -lowlight-color black "$work/diff.png" 2>/dev/null; convert "$work/diff.png" -trim -format '%wx%h%O' info:)
[ -n "$box" ] || fail "typing changed nothing on screen"
# Only the field's row: the completion list that opens below it is light whatever the style.
IFS='x+' read -r bw bh bx by <<<"$box"
line="${bw}x$((bh < 18 ? bh : 18))+$bx+$by"
range=$(convert "$shots/chooser-typed.png" -crop "$line" -colorspace Gray \
    -format '%[fx:int(255*maxima.r)] %[fx:int(255*minima.r)]' info:)
read -r lightest darkest <<<"$range"
echo "typed path at $line: grey $darkest to $lightest"
[ $((lightest - darkest)) -ge 150 ] || fail "typed path unreadable: grey $darkest to $lightest"
mean=$(convert "$shots/chooser-typed.png" -crop "$(xwininfo -id "$chooser" | awk '/Width:/{w=$2}/Height:/{h=$2}/Absolute upper-left X:/{x=$4}/Absolute upper-left Y:/{y=$4}END{print w"x"h"+"x"+"y}')" \
    -colorspace Gray -format '%[fx:int(255*mean)]' info:)
echo "chooser mean grey $mean"
[ "$mean" -ge 128 ] || fail "the chooser is dark (mean grey $mean)"
key Return
within 30 logged "loadCalibrartionFiles 5" || fail "the chooser did not take the folder"
within 30 logged "onConnect success" || fail "the sensor did not start with its corrections"

# The dialog on a 1366 x 768 screen: its frame (title bar included) inside the screen.
dialog=$(window '^Vanto OSTRA$')
[ -n "$dialog" ] || fail "no dialog window"
# The dialog on a 1366 x 768 screen: its contents inside the screen with room above them for the
# window manager's title bar.
eval "$(xwininfo -id "$dialog" | awk '/Absolute upper-left X:/{print "cx="$4}/Absolute upper-left Y:/{print "cy="$4}/Width:/{print "cw="$2}/Height:/{print "ch="$2}')"
echo "dialog contents ${cw}x${ch} at $cx,$cy"
[ "$cx" -ge 0 ] && [ "$cy" -ge 15 ] && [ $((cx + cw)) -le 1366 ] && [ $((cy + ch)) -le 768 ] ||
    fail "dialog ${cw}x${ch} at $cx,$cy does not leave its title bar on the 1366 x 768 screen"
shot placed
click() { xdotool mousemove --sync $((cx + $1)) $((cy + $2)) click 1; sleep 0.4; }

# Expose; the image lands in the single tile.
"$sensor_sim" expose >/dev/null || fail "expose"
within 30 logged "image received" || fail "the exposure did not arrive"
sleep 1
shot exposed
# Select: a click on the tile (Single Image: 250, 75, 250 x 375 in the tile area at 20, 70).
before=$(grep -c "selected index 0" "$log")
click 395 330
within 5 test "$(grep -c 'selected index 0' "$log")" -gt "$before" || fail "the tile click was not seen"
# Adjust: a click on the brightness slider's groove, right of its handle, moves it a page.
click 1150 585
within 5 logged "Brightness Change..." || fail "the brightness slider did not move"
# Select the tile again if the click took it away, then Re-take and expose.
within 3 logged "retake image button" || {
    for attempt in 1 2; do
        click 497 655
        logged "retake image button" && break
        click 395 330
    done
}
within 5 logged "retake image button" || fail "Re-take was not pressed"
"$sensor_sim" expose >/dev/null || fail "expose for the retake"
within 30 logged "img_size 1 orgSelectIndex" || fail "the retake did not replace the image"
sleep 1
shot retaken

# Esc with an image not saved: asked first; Return answers the default, No.
xdotool windowactivate --sync "$dialog"
key Escape
within 10 window '^Ostra$' || fail "Esc closed without asking"
within 5 logged "close with unsaved images" || fail "not the unsaved-images question"
shot unsaved-question
key Return
within 10 logged "close cancelled" || fail "the default answer is not No"
sleep 0.5
[ -n "$(window '^Vanto OSTRA$')" ] || fail "the dialog closed although the answer was No"

# Save: the application receives the image and ends.
click 385 655
within 60 bash -c "! kill -0 $app" || fail "the application did not end after Save"
wait "$app"
status=$?
[ $status -eq 0 ] || fail "ostra-acquire exit status $status"
[ -s "$work/out/xray-1.png" ] || fail "no image saved"
echo "PASS: screenshots in $shots"
