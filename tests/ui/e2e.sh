#!/usr/bin/env bash
# End to end: starts the real Tessel on a virtual X server and uses it as a person would. It
# types a file and an output folder into the fields, ticks the batch option, clicks the Split
# image, presses Enter in the summary dialog, checks the pieces and the batch file on disk, then
# names the empty file the split left beside the pieces, clicks Join and compares the rebuilt
# file with the original. Then it splits and joins once more with the keyboard alone. All the
# while it reads the window through the accessibility bus (AT-SPI) as a screen reader does: the
# names and roles of the controls, the focus, the status line and its announcements.
# Then it splits a file large enough to take several seconds: meanwhile another window covers
# Tessel and goes away, twice, and Tessel must have drawn itself again within a second each time
# (a window whose event loop stood still would keep the other window's picture), it must answer a
# screen reader's question within a second, more than once, and the status line must show the
# split going on. Esc must then stop the split and take back every piece. A last long split is
# ended with the Exit image: Tessel cancels, cleans up and ends.
# Usage: e2e.sh path/to/tessel. Exits 77 (skipped) when a tool it needs is not installed.
set -euo pipefail

tessel=${1:?usage: e2e.sh path/to/tessel}
here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb xdotool xmessage import convert cmp shred dbus-run-session dbus-send; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done
if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || [ ! -x /usr/libexec/at-spi-bus-launcher ]; then
    echo "SKIP: at-spi2-core or python3-pyatspi is not installed"
    exit 77
fi
# A D-Bus session of its own, so that the accessibility bus started below ends with the test.
if [ -z "${TESSEL_E2E_SESSION:-}" ]; then
    TESSEL_E2E_SESSION=1 exec dbus-run-session -- bash "$0" "$@"
fi

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

# shellcheck source=SCRIPTDIR/../support/display.sh
source "$here/../support/display.sh"

# Without backing store, so that only Tessel itself can bring back what a covering window hid.
start_xvfb -bs

input="$work/sample.bin"
out="$work/out"
head -c 3000000 /dev/urandom >"$input"  # two full pieces of 1457644 bytes and a short third

export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# In a build with LeakSanitizer, Tessel must end cleanly; a buffer that the system's D-Bus
# library keeps until the process ends is not Tessel's to free.
printf 'leak:libdbus-1.so\n' >"$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# Asking for the accessibility bus's address starts it; Qt only joins a bus that is already up.
# The bus keeps its socket in the runtime folder the session bus hands it: this test's own, so
# that no other session's bus can take it away.
dbus-update-activation-environment XDG_RUNTIME_DIR
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    >/dev/null || fail "the accessibility bus did not start"
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
exit_image=(310 386)

summary_open() {
    for window in $(xdotool search --onlyvisible --pid "$tessel_pid" 2>/dev/null); do
        xdotool getwindowgeometry "$window" | grep -q 'Geometry: 226x155' && return 0
    done
    return 1
}
summary_closed() { ! summary_open; }

# Reading the window as a screen reader does (see atspi_query.py for what it prints).
query() { /usr/bin/python3 "$here/atspi_query.py" tessel "$@"; }
expect_control() {  # role, name: such a control is on the accessibility bus
    query "$2" --role "$1" >/dev/null ||
        fail "no $1 named \"$2\" over AT-SPI; the name gives: $(query "$2" --wait 0 2>&1)"
}
status_is() { [ "$(query --in Status | cut -f3)" = "$1" ]; }
expect_status() { wait_for status_is "$1" || fail "the status line reads \"$(query --in Status)\""; }
focus_is() { [ "$(query --focused --wait 0 | cut -f1,2)" = "$1"$'\t'"$2" ]; }
expect_focus() {  # role, name of the control that must have the keyboard focus
    wait_for focus_is "$1" "$2" || fail "the focus is on \"$(query --focused --wait 0)\", not $2"
}

expect_control "push button" Break
expect_control "push button" Join
expect_control "push button" Help
expect_control "push button" Exit
expect_control "push button" "Choose the file to split or join"
expect_control "push button" "Choose the output folder"
expect_control text "File to Split or Join"
expect_control text "Output Folder"
expect_control text "Split Size (Bytes)"
expect_control list "File Size"
expect_control link "Open the Tessel web site"
[ "$(query --in Status | cut -f1,2)" = $'notification\tPlease select a file to Split or Join.' ] ||
    fail "the status line reads \"$(query --in Status)\" over AT-SPI"

type_into "${file_field[@]}" "$input"
type_into "${folder_field[@]}" "$out"
[ "$(query "File to Split or Join" --role text | cut -f3)" = "$input" ] ||
    fail "the file field does not show the typed path over AT-SPI"
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
expect_status "Successfully broken file into pieces"

type_into "${file_field[@]}" "$out/sample.bin"
click_at "${join_image[@]}"
joined() { [ "$(stat -c %s "$out/sample.bin")" -eq 3000000 ]; }
wait_for joined || fail "the join did not rebuild the file"
cmp "$out/sample.bin" "$input" || fail "the rebuilt file differs from the input"
expect_status "The Files have been successfully joined and verified"

# The keyboard alone, from the file field, where a click on an image leaves the focus: the
# file, Tab twice to the folder, five times to BREAK (the disabled chunk-size field is passed
# over; the recovery pieces come after the check box), Space, Enter in the summary; then Tab
# five times round to the file field and eight times on to JOIN, and Enter.
keys_out="$work/keys"
expect_focus text "File to Split or Join"
xdotool key ctrl+a && xdotool type --delay 2 "$input"
xdotool key Tab Tab ctrl+a && xdotool type --delay 2 "$keys_out"
xdotool key Tab Tab Tab Tab Tab
expect_focus "push button" Break
xdotool key space
wait_for summary_open || fail "Space on BREAK did not open the summary dialog"
xdotool key Return
wait_for summary_closed || fail "Enter did not close the summary dialog"
# A window manager gives the window back the input focus when the dialog closes; there is none.
xdotool windowfocus --sync "$main"
expect_focus "push button" Break
expect_status "Successfully broken file into pieces"
cat "$keys_out/sample.bin."{1,2,3}.BRK | cmp - "$input" || fail "the keyboard split's pieces differ"
xdotool key Tab Tab Tab Tab Tab
expect_focus text "File to Split or Join"
xdotool key ctrl+a && xdotool type --delay 2 "$keys_out/sample.bin"
xdotool key Tab Tab Tab Tab Tab Tab Tab Tab
expect_focus "push button" Join
xdotool key Return
expect_status "The Files have been successfully joined and verified"
cmp "$keys_out/sample.bin" "$input" || fail "the keyboard join did not rebuild the file"

# Every status is announced, a repeated one too: two joins of a file that has no pieces.
query --watch Status 5 >"$work/announced" &
watcher=$!
wait_for grep -q watching "$work/announced" || fail "the AT-SPI watcher did not start"
type_into "${file_field[@]}" "$work/missing.bin"
click_at "${join_image[@]}"
sleep 0.5
click_at "${join_image[@]}"
wait "$watcher"
[ "$(grep -c $'^notification\tError - Unable to join pieces into a file$' "$work/announced")" -eq 2 ] ||
    fail "two failed joins were not announced twice: $(cat "$work/announced")"
kill -0 "$tessel_pid" || fail "Tessel ended on its own"

echo "split and join by mouse and by keyboard; names, roles, focus and status read through AT-SPI"

# Regions of the window, as WIDTHxHEIGHT+LEFT+TOP from the client origin, and a fingerprint of
# what the screen shows there now.
banner_area=383x28+0+0
split_area=127x33+48+44
status_area=257x17+21+418
shown() { import -window "$main" png:- 2>/dev/null | convert png:- -crop "$1" +repage -format '%#' info:; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

banner_hidden() { [ "$(shown "$banner_area")" != "$banner" ]; }
split_open() { [ "$(shown "$split_area")" = "$split_idle" ]; }

# Covers the whole window with another one, takes that away, and waits up to one second for
# Tessel to have drawn its banner again.
redrawn_after_cover() {
    xmessage -geometry "383x458+$X+$Y" "covering Tessel" 2>/dev/null &
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
# A screen reader's question is answered at once while the split runs, more than once, and the
# status line it reads tells the progress and how to stop.
for asked in 1 2; do
    asked_at=$(now_ms)
    read_status=$(query --in Status --wait 0 | cut -f3)
    (($(now_ms) - asked_at <= 1000)) || fail "AT-SPI question $asked took over a second"
    [[ $read_status =~ ^Breaking\ file\ into\ pieces\.\.\.\ [0-9]+%\ -\ press\ Esc\ to\ cancel$ ]] ||
        fail "the status line read over AT-SPI during the split is \"$read_status\""
    sleep 0.3
done
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

echo "PASS: split and join by mouse and keyboard, read through AT-SPI; a long split redrawn,"
echo "      answering AT-SPI, showing progress, stopped by Esc; Exit during a split cleans up and ends"
