# Shell helpers for the scripts that drive Tessel on a virtual X server (the end-to-end test and
# the package check): failing with a message, waiting for a condition, and starting Xvfb on a
# display number nobody uses. Sourced, not run; the caller sets $work and kills $xvfb_pid.

fail() {
    echo "FAIL: $*" >&2
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

# Starts Xvfb, with any extra options given, on the first free display from :90, exports
# DISPLAY and sets xvfb_pid; its log goes to $work/xvfb.log.
start_xvfb() {
    local display=90
    while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
        display=$((display + 1))
    done
    export DISPLAY=":${display}"
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp -noreset "$@" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    wait_for xdotool getdisplaygeometry || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
}
