#!/usr/bin/env bash
# Runs a command the way a Qt program runs beside a screen reader: on its own virtual X server,
# inside its own D-Bus session whose accessibility bus (AT-SPI) is up before the command starts,
# with Qt told to publish its controls there (QT_LINUX_ACCESSIBILITY_ALWAYS_ON) on X11.
# Usage: atspi_session.sh COMMAND [ARG...]. Exits 77 (skipped) when a tool it needs is missing.
set -euo pipefail

for tool in xvfb-run xauth Xvfb dbus-run-session dbus-send; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done
if [ ! -x /usr/libexec/at-spi-bus-launcher ]; then
    echo "SKIP: at-spi2-core is not installed"
    exit 77
fi

if [ "${1:-}" != --inside-session ]; then
    exec xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -nolisten tcp" \
        dbus-run-session -- bash "$0" --inside-session "$@"
fi
shift

# The bus launcher keeps its socket in the runtime folder; this session gets a folder of its own.
runtime=$(mktemp -d "${TMPDIR:-/tmp}/tessel-atspi-XXXXXX")
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# Asking for the accessibility bus's address starts it; Qt only joins a bus that is already up.
# The bus keeps its socket in the runtime folder the session bus hands it: this test's own, so
# that no other session's bus can take it away.
dbus-update-activation-environment XDG_RUNTIME_DIR
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    >/dev/null
"$@"
