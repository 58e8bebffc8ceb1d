#!/usr/bin/env bash
# What a blind user hears: runs Orca, the screen reader, beside the real Tessel on a virtual X
# server with a window manager, the accessibility bus and speech-dispatcher (its dummy voice, on a
# silent sound device), and uses Tessel with the keyboard alone: Tab through every control, a
# Custom piece size, BREAK and its summary, Orca's "speak title" and "speak status bar" commands,
# JOIN, a join with a damaged piece, Esc during a long split of a large sparse file, BREAK twice
# with a blank output folder, the help read line by line, and Exit. Each step's time is noted;
# Orca's debug log records every utterance ("SPEECH OUTPUT"), and once Orca has ended, what it
# said in each step is checked: every control by name and role with no key name after it, every
# status once as it appears (a repeated one too), the progress with its Esc hint at most about
# every 10 s, the window by its title, and the answers to the two commands.
# Usage: orca_test.sh path/to/tessel. Exits 77 (skipped) when a tool it needs is not installed.
set -euo pipefail

tessel=${1:?usage: orca_test.sh path/to/tessel}
here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb xdotool openbox orca speech-dispatcher dbus-run-session dbus-send truncate; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done
if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || [ ! -x /usr/libexec/at-spi-bus-launcher ] ||
    [ ! -x /usr/lib/speech-dispatcher-modules/sd_dummy ]; then
    echo "SKIP: at-spi2-core, python3-pyatspi or speech-dispatcher's dummy module is missing"
    exit 77
fi
# A D-Bus session of its own, so that the buses and services started below end with the test.
if [ -z "${TESSEL_ORCA_SESSION:-}" ]; then
    TESSEL_ORCA_SESSION=1 exec dbus-run-session -- bash "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tessel-orca-XXXXXX")
xvfb_pid=""
wm_pid=""
speech_pid=""
orca_pid=""
tessel_pid=""
running() { local state; state=$(ps -o stat= -p "$1") && [[ $state != Z* ]]; }
stop() {  # pid...: ends each, by force after 5 s, and waits for it
    local pid
    for pid in "$@"; do
        kill "$pid" 2>/dev/null || continue
        for _ in $(seq 50); do running "$pid" || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}
cleanup() {
    local status=$?
    set +e
    stop $tessel_pid $orca_pid $speech_pid $wm_pid $xvfb_pid
    [ "$status" -eq 0 ] || [ -z "${keep_log:-}" ] || cp "$work/orca.log" "$keep_log"
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
keep_log=${TESSEL_ORCA_LOG:-}  # where to keep Orca's debug log of a failed run

# shellcheck source=SCRIPTDIR/../support/display.sh
source "$here/../support/display.sh"

# A home of its own: Orca's settings, speech-dispatcher's configuration, ALSA's silent device and
# Tessel's output folder ($HOME/Tessel) all live there.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_CACHE_HOME="$work/home/.cache"
export XDG_DATA_HOME="$work/home/.local/share" XDG_RUNTIME_DIR="$work/run"
export GSETTINGS_BACKEND=memory
mkdir -p "$XDG_CONFIG_HOME/speech-dispatcher" "$XDG_RUNTIME_DIR" "$XDG_CACHE_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
printf 'pcm.!default { type null }\n' >"$HOME/.asoundrc"
cat >"$XDG_CONFIG_HOME/speech-dispatcher/speechd.conf" <<'CONF'
AddModule "dummy" "sd_dummy" ""
DefaultModule dummy
AudioOutputMethod "alsa"
CONF

start_xvfb
# The services the session bus starts (the accessibility bus among them) live in this home too:
# otherwise the accessibility bus would put its socket in the real user's folders, where another
# session's bus could take it away.
dbus-update-activation-environment HOME XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME \
    XDG_RUNTIME_DIR GSETTINGS_BACKEND DISPLAY
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
# Asking for the accessibility bus's address starts it; Qt only joins a bus that is already up.
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    >/dev/null || fail "the accessibility bus did not start"
speech-dispatcher --run-single --timeout 0 --config-dir "$XDG_CONFIG_HOME/speech-dispatcher" \
    --log-dir "$work" >"$work/speechd.out" 2>&1 &
speech_pid=$!
wait_for test -S "$XDG_RUNTIME_DIR/speech-dispatcher/speechd.sock" ||
    fail "speech-dispatcher did not start: $(cat "$work/speechd.out")"
orca --debug-file="$work/orca.log" >"$work/orca.out" 2>&1 &
orca_pid=$!
# Orca writes its log in blocks; its start-up fills the first ones.
wait_for grep -q "ATSPI registry initialized" "$work/orca.log" ||
    fail "Orca did not start: $(tail -5 "$work/orca.out")"

input="$work/sample.bin"
out="$HOME/Tessel"
head -c 3000000 /dev/urandom >"$input"  # two full pieces of 1457644 bytes and a short third
big="$work/big.bin"
truncate -s 32G "$big"  # sparse: only the pieces written before Esc take room

export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# In a build with LeakSanitizer, Tessel must end cleanly; a buffer that the system's D-Bus
# library keeps until the process ends is not Tessel's to free.
printf 'leak:libdbus-1.so\n' >"$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# Reading the window as a screen reader does, to know when Tessel is ready for the next step.
query() { /usr/bin/python3 "$here/atspi_query.py" tessel "$@"; }
status_is() { [ "$(query --in Status --wait 0 | cut -f3)" = "$1" ]; }
expect_status() { wait_for status_is "$1" || fail "the status line reads \"$(query --in Status)\""; }

# Each step is noted with the time it begins; Orca needs a moment to speak what it brought.
steps="$work/steps"
step() { echo "$(date +%H:%M:%S.%N) $1" >>"$steps"; }
settle() { sleep 1.5; }
press() {  # step name, keys...: one step of one or more key presses
    local name=$1
    shift
    step "$name"
    xdotool key --delay 150 "$@"
    settle
}
type_text() { xdotool type --delay 30 "$1"; }
orca_command() {  # presses, with Orca's modifier held, the keypad's Enter once or twice
    xdotool keydown KP_Insert
    xdotool key --delay 60 "$@"
    xdotool keyup KP_Insert
    settle
}

step start
"$tessel" "$input" >"$work/tessel.log" 2>&1 &
tessel_pid=$!
wait_for xdotool search --onlyvisible --name '^Tessel v\.1\.0$' ||
    fail "the main window did not appear: $(cat "$work/tessel.log")"
wait_for query Break --role "push button" || fail "Tessel's controls are not on the AT-SPI bus"
sleep 3

# From the file field round the window and back, with a Custom size on the way.
press tab-file-button Tab
press tab-folder Tab
press tab-folder-button Tab
press tab-list Tab
press list-custom End
press back-to-list shift+Tab
press list-preset Home
press tab-batch Tab
press tab-recovery Tab
press tab-break Tab
press tab-join Tab
press tab-help Tab
press tab-exit Tab
press tab-link Tab
press tab-file Tab

# BREAK with the keyboard: Tab to it, Space, and Space on the summary's OK. (Not Enter: the
# summary goes on Enter's press, and Qt's accessibility bridge, which holds each key until the
# screen reader has seen it, then loses its copy of Enter's release, which LeakSanitizer reports.)
press tab-to-break Tab Tab Tab Tab Tab Tab Tab
press break space
press summary-ok space
expect_status "Successfully broken file into pieces"
settle
step speak-title
orca_command KP_Enter
step speak-status-bar
orca_command KP_Enter KP_Enter

# JOIN the pieces: back to the file field, the name the pieces belong to, on to JOIN.
press back-to-file shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab
step type-joined-name
xdotool key ctrl+a
type_text "$out/sample.bin"
settle
press tab-to-join Tab Tab Tab Tab Tab Tab Tab Tab
press join Return
expect_status "The Files have been successfully joined and verified"
cmp "$out/sample.bin" "$input" || fail "the join did not rebuild the file"

# A damaged piece: the joined file goes (so that no question comes first) and piece 2 is spoilt.
rm "$out/sample.bin"
printf 'spoilt' | dd of="$out/sample.bin.2.BRK" bs=1 seek=1000 conv=notrunc status=none
press join-damaged Return
expect_status "Error - Piece 2 is damaged"

# A long split, stopped with Esc after two announcements of its progress.
press big-back-to-file shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab \
    shift+Tab
step type-big-name
xdotool key ctrl+a
type_text "$big"
settle
press big-tab-to-break Tab Tab Tab Tab Tab Tab Tab
press big-break space
step big-split
xdotool key space
status_text() { query --in Status --wait 0 | cut -f3; }
progress_shown() { status_text | grep -q 'press Esc to cancel'; }
wait_for progress_shown || fail "the long split shows no progress: $(query --in Status)"
# The progress is read out as it first appears, then as it changes once 10 s have passed.
sleep 10
shown=$(status_text)
changed() { [ "$(status_text)" != "$shown" ]; }
wait_for changed || wait_for changed || wait_for changed || fail "the progress stands at $shown"
settle
step escape
xdotool key Escape
expect_status "The split was cancelled"
settle
compgen -G "$out/big.bin.*.BRK" >/dev/null && fail "Esc left pieces of the long split behind"

# BREAK twice with a blank output folder: the same refusal, read out each time.
press blank-back-to-file shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab
press blank-tab-to-folder Tab Tab
press blank-folder ctrl+a BackSpace
press blank-tab-to-break Tab Tab Tab Tab Tab
press blank-break-1 space
press blank-break-2 space

# The help, read line by line with the arrow keys, then closed.
press help-tab Tab Tab
press help-open space
press help-line-1 Down
press help-line-2 Down
press help-line-back Up
press help-close alt+F4

# Exit ends Tessel; then Orca ends, which writes out the rest of its log.
press exit-tab Tab
press exit space
wait "$tessel_pid" || fail "Tessel ended with a failure: $(tail -60 "$work/tessel.log")"
tessel_pid=""
step end
stop "$orca_pid"
orca_pid=""

# What Orca said, step by step (see orca_speech.py); printed whole for whoever reads the run.
/usr/bin/python3 "$here/orca_speech.py" "$work/orca.log" "$steps" "$work/said"
echo "What Orca said in each step:"
cat "$work/said/walk"
said() {  # step, extended regular expression: an utterance of the step matches it
    grep -Eq -- "$2" "$work/said/$1" || fail "in step $1 Orca did not say /$2/"
}
said_times() {  # step, expression, count: that many utterances of the step match it
    local count
    count=$(grep -Ec -- "$2" "$work/said/$1" || true)
    [ "$count" -eq "$3" ] || fail "in step $1 Orca said /$2/ $count times, not $3"
}

# Orca spoke through speech-dispatcher, which is still there.
grep -q "SPEECH: Using speech server factory: speechdispatcherfactory" "$work/orca.log" &&
    ! grep -q "SSIPCommunicationError" "$work/orca.log" || fail "Orca did not reach speech-dispatcher"
kill -0 "$speech_pid" || fail "speech-dispatcher ended: $(tail -3 "$work/speechd.out")"

said start '^Tessel v\.1\.0 frame\.?$'
said tab-file-button '^Choose the file to split or join push button\.?$'
said tab-file-button '^Click this button to choose the file to split or join\.?$'
said tab-folder '^Output Folder text\.?$'
said tab-folder-button '^Choose the output folder push button\.?$'
said tab-list '^File Size\.?$'
said tab-list '^List with [0-9]+ items\.?$'
said tab-list '^Split Size \(Bytes\) 1457644\.?$'
said list-custom '^Split Size \(Bytes\) text\.?$'
said list-preset "^Diskette 3'5 High Density \(1\.44 MB\) 1457644\.?$"
said tab-batch 'Generate Batch file for merging\. check box not checked'
said tab-recovery 'Recovery pieces'
said tab-break '^Break push button\.?$'
said tab-break '^Break the file\.?$'
said tab-join '^Join push button\.?$'
said tab-help '^Help push button\.?$'
said tab-exit '^Exit push button\.?$'
said tab-link '^Open the Tessel web site link\.?$'
said tab-file '^File to Split or Join text\.?$'
# No key name after a control: Qt's own push buttons name none, and the pictures and the link
# must not either.
grep -Eqi '(push button|link)\.? return' "$work/said/walk" && fail "a key name follows a control"

said_times summary-ok '^Successfully broken file into pieces\.?$' 1
said speak-title '^Tessel v\.1\.0\.?$'
said speak-status-bar '^Status statusbar\.?$'
said speak-status-bar '^Successfully broken file into pieces\.?$'
said_times join '^The Files have been successfully joined and verified\.?$' 1
said_times join-damaged '^Error - Piece 2 is damaged\.?$' 1

progress='^Breaking file into pieces\.\.\. [0-9]+% - press Esc to cancel\.?$'
said_times big-split "$progress" 2
said_times escape '^The split was cancelled\.?$' 1
# The two readings of the progress came 10 s or a little more apart (the second waits for the
# percentage to change).
progress_times=$(grep -E "SPEECH OUTPUT: 'Breaking file into pieces" "$work/orca.log" |
    cut -c1-15 | awk -F: '{ print $1 * 3600 + $2 * 60 + $3 }')
[ "$(echo "$progress_times" | wc -l)" -eq 2 ] || fail "the progress was read $progress_times"
gap=$(echo "$progress_times" | awk 'NR == 1 { first = $1 } NR == 2 { print int($1 - first) }')
[ "$gap" -ge 9 ] && [ "$gap" -le 75 ] || fail "the progress was read out $gap s apart"
echo "The progress was read out twice, $gap s apart."

said_times blank-break-1 '^Error - Choose an output folder\.?$' 1
said_times blank-break-2 '^Error - Choose an output folder\.?$' 1

said help-open 'Tessel Help'
said help-line-1 '^Tessel breaks a file into pieces of a fixed size'
said help-line-2 '^smaller than the file, and joins the pieces back'
said help-line-back '^Tessel breaks a file into pieces of a fixed size'

echo "PASS: Orca read every control by name and role, no key after it, every status once, the"
echo "      progress with its hint about every 10 s, the window's title, its status bar and the help"
