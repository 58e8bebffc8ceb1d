#!/usr/bin/env bash
# End to end: starts the real Tessel on a virtual X server and uses it as a person would. It
# types a file and an output folder into the fields, ticks the batch option, clicks the Split
# image, presses Enter in the summary dialog, checks the pieces and the batch file on disk, then
# names the empty file the split left beside the pieces, clicks Join and compares the rebuilt
# file with the original.
# Usage: e2e.sh path/to/tessel. Exits 77 (skipped) when Xvfb or xdotool is not installed.
set -euo pipefail

tessel=${1:?usage: e2e.sh path/to/tessel}
for tool in Xvfb xdotool cmp; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tessel-e2e-XXXXXX")
xvfb_pid=""
tessel_pid=""
cleanup() {
    local status=$?
    set +e
    for pid in $tessel_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

# Waits up to 20 s for the command to succeed.
wait_for() {
    local tries=0
    until "$@" >/dev/null 2>&1; do
        tries=$((tries + 1))
        [ "$tries" -ge 200 ] && return 1
        sleep 0.1
    done
}

# A display number nobody uses.
display=90
while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
    display=$((display + 1))
done
export DISPLAY=":${display}"
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for xdotool getdisplaygeometry || fail "Xvfb did not start: $(cat "$work/xvfb.log")"

input="$work/sample.bin"
out="$work/out"
head -c 3000000 /dev/urandom >"$input"  # two full pieces of 1457644 bytes and a short third

export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work"
"$tessel" >"$work/tessel.log" 2>&1 &
tessel_pid=$!
wait_for xdotool search --onlyvisible --name '^Tessel v\.1\.0$' ||
    fail "the main window did not appear: $(cat "$work/tessel.log")"
main=$(xdotool search --onlyvisible --name '^Tessel v\.1\.0$' | head -1)
sleep 0.5  # let the window finish its first drawing before it is clicked
eval "$(xdotool getwindowgeometry --shell "$main")"  # X, Y: the window's client origin

# Centres of the controls, in pixels from the client origin.
click_at() { xdotool mousemove "$((X + $1))" "$((Y + $2))" click 1; }
type_into() {  # field x, field y, text
    click_at "$1" "$2"
    xdotool key ctrl+a
    xdotool type --delay 2 "$3"
}
file_field=(167 133)
folder_field=(175 197)
batch_box=(44 318)
split_image=(111 61)
join_image=(259 61)

summary_open() {
    for window in $(xdotool search --onlyvisible --pid "$tessel_pid" 2>/dev/null); do
        xdotool getwindowgeometry "$window" | grep -q 'Geometry: 226x155' && return 0
    done
    return 1
}
summary_closed() { ! summary_open; }

type_into "${file_field[@]}" "$input"
type_into "${folder_field[@]}" "$out"
click_at "${batch_box[@]}"
click_at "${split_image[@]}"
wait_for summary_open || fail "the summary dialog did not open"
xdotool key Return
wait_for summary_closed || fail "Enter did not close the summary dialog"
wait_for test -s "$out/sample.bin.bat" || fail "the split wrote no batch file"

[ "$(stat -c %s "$out/sample.bin.1.BRK")" -eq 1457644 ] || fail "piece 1 has the wrong size"
[ "$(stat -c %s "$out/sample.bin.2.BRK")" -eq 1457644 ] || fail "piece 2 has the wrong size"
[ "$(stat -c %s "$out/sample.bin.3.BRK")" -eq 84712 ] || fail "piece 3 has the wrong size"
[ ! -e "$out/sample.bin.4.BRK" ] || fail "a fourth piece was written"
cat "$out/sample.bin."{1,2,3}.BRK | cmp - "$input" || fail "the pieces are not the input"
[ -e "$out/sample.bin" ] && [ ! -s "$out/sample.bin" ] || fail "no empty file beside the pieces"
grep -q 'copy /b "sample.bin"+"sample.bin.3.BRK"  "sample.bin"' "$out/sample.bin.bat" ||
    fail "the batch file does not merge piece 3"

type_into "${file_field[@]}" "$out/sample.bin"
click_at "${join_image[@]}"
joined() { [ "$(stat -c %s "$out/sample.bin")" -eq 3000000 ]; }
wait_for joined || fail "the join did not rebuild the file"
cmp "$out/sample.bin" "$input" || fail "the rebuilt file differs from the input"
kill -0 "$tessel_pid" || fail "Tessel ended on its own"

echo "PASS: split into 3 pieces with a batch file, joined back byte for byte"
