#!/usr/bin/env bash
# End to end: starts the real Tessel on a virtual X server and uses it as a person would. It
# types a file and an output folder into the fields, ticks the batch option, clicks the Split
# image, presses Enter in the summary dialog, checks the pieces and the batch file on disk, then
# names the empty file the split left beside the pieces, clicks Join and compares the rebuilt
# file with the original.
# Then it splits a file large enough to take several seconds: meanwhile another window covers
# Tessel and goes away, twice, and Tessel must have drawn itself again within a second each time
# (a window whose event loop stood still would keep the other window's picture), and the status
# line must change as the split goes on. Esc must then stop the split and take back every piece.
# A last long split is ended with the Exit image: Tessel cancels, cleans up and ends.
# Usage: e2e.sh path/to/tessel. Exits 77 (skipped) when Xvfb, xdotool, xmessage or ImageMagick is
# not installed.
set -euo pipefail

tessel=${1:?usage: e2e.sh path/to/tessel}
for tool in Xvfb xdotool xmessage import convert cmp shred; do
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
# Without backing store, so that only Tessel itself can bring back what a covering window hid.
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp -noreset -bs >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for xdotool getdisplaygeometry || fail "Xvfb did not start: $(cat "$work/xvfb.log")"

input="$work/sample.bin"
out="$work/out"
head -c 3000000 /dev/urandom >"$input"  # two full pieces of 1457644 bytes and a short third

export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work"
# In a build with LeakSanitizer, Tessel must end cleanly; a buffer that the system's D-Bus
# library keeps until the process ends is not Tessel's to free.
printf 'leak:libdbus-1.so\n' >"$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
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
exit_image=(310 364)
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
echo "split into 3 pieces with a batch file, joined back byte for byte"

# Regions of the window, as WIDTHxHEIGHT+LEFT+TOP from the client origin, and a fingerprint of
# what the screen shows there now.
banner_area=383x28+0+0
split_area=127x33+48+44
status_area=257x17+21+396
shown() { import -window "$main" png:- 2>/dev/null | convert png:- -crop "$1" +repage -format '%#' info:; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

banner_hidden() { [ "$(shown "$banner_area")" != "$banner" ]; }
split_open() { [ "$(shown "$split_area")" = "$split_idle" ]; }

# Covers the whole window with another one, takes that away, and waits up to one second for
# Tessel to have drawn its banner again.
redrawn_after_cover() {
    xmessage -geometry "383x436+$X+$Y" "covering Tessel" 2>/dev/null &
    local cover=$!
    wait_for banner_hidden || fail "the covering window did not appear"
    kill "$cover"
    wait "$cover" 2>/dev/null || true
    local start
    start=$(now_ms)
    while [ $(($(now_ms) - start)) -le 1000 ]; do
        [ "$(shown "$banner_area")" = "$banner" ] && return 0
        sleep 0.05
    done
    return 1
}

no_piece_left() {
    ! compgen -G "$big_out/big.bin*" >/dev/null
}

# Starts the split of the big file and answers its summary.
start_big_split() {
    type_into "${file_field[@]}" "$big"
    type_into "${folder_field[@]}" "$big_out"
    click_at "${split_image[@]}"
    wait_for summary_open || fail "the summary dialog of the long split did not open"
    xdotool key Return
    wait_for summary_closed || fail "Enter did not close the summary dialog of the long split"
}

big="$work/big.bin"
big_out="$work/big_out"
big_pieces=1474 # 2 GiB in pieces of 1457644 bytes
truncate -s 2G "$big"
shred -n 1 "$big" # random bytes, written out: no medium can shortcut them
banner=$(shown "$banner_area")
split_idle=$(shown "$split_area")
status_before=$(shown "$status_area")

start_big_split
started=$(now_ms)
sleep 1
redrawn_after_cover || fail "the window was not redrawn within 1 s during the split"
status_first=$(shown "$status_area")
sleep 1
redrawn_after_cover || fail "the window was not redrawn within 1 s the second time"
status_second=$(shown "$status_area")
[ "$status_first" != "$status_before" ] || fail "the status line shows no progress"
[ "$status_second" != "$status_first" ] || fail "the progress in the status line does not move"
split_open && fail "the Split image does not show that it is shut"
while [ $(($(now_ms) - started)) -lt 3000 ]; do sleep 0.1; done
compgen -G "$big_out/big.bin.*.BRK" >/dev/null || fail "the long split wrote no piece"
[ ! -e "$big_out/big.bin.$big_pieces.BRK" ] ||
    fail "the long split ended within 3 s: it cannot show that it can be stopped"

xdotool key Escape
wait_for no_piece_left || fail "Esc left pieces behind: $(ls "$big_out" | head -3)"
wait_for split_open || fail "the Split image stayed shut"
[ "$(shown "$status_area")" != "$status_second" ] || fail "the status line still shows progress"
[ ! -e "$big_out/big.bin.bat" ] || fail "a batch file was written after the cancel"
kill -0 "$tessel_pid" || fail "Tessel ended after Esc"
echo "a split of 2 GiB kept the window drawn, showed progress and was stopped by Esc"

# Exit during the work: the split is taken back, then Tessel ends.
start_big_split
wait_for compgen -G "$big_out/big.bin.*.BRK" || fail "the last split wrote no piece"
click_at "${exit_image[@]}"
ended() { # gone, or a zombie that only waits to be reaped
    local state
    state=$(ps -o stat= -p "$tessel_pid") || return 0
    [[ $state == Z* ]]
}
wait_for ended || fail "Tessel did not end after Exit during a split"
wait "$tessel_pid" ||
    fail "Tessel ended with a failure after Exit during a split: $(tail -5 "$work/tessel.log")"
tessel_pid=""
no_piece_left || fail "Exit during the split left pieces behind: $(ls "$big_out" | head -3)"

echo "PASS: split and join by mouse; a long split redrawn, showing progress, stopped by Esc; Exit during a split cleans up and ends"
