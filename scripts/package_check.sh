#!/usr/bin/env bash
# Builds Tessel's two Debian packages from the release preset, tessel (the window) and
# tessel-cli (the command line), and checks them as a user would get them: the desktop entry and
# the AppStream metainfo pass their validators and lintian reports no error on either package;
# tessel-cli depends on no Qt library, not even through its dependencies' dependencies; apt-get
# installs both; every file lies where it belongs; the installed tessel-cli splits a file with
# recovery pieces, verifies it, repairs a lost piece, joins it rebuilding another, and its bash
# completion loads; the installed Tessel, started under its own virtual X server with a piece on
# its command line, joins that piece's file and shows its help from the installed help file;
# apt-get removes both again without a trace.
# Needs root, or sudo, for apt-get. Run by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-release
jobs=${TESSEL_JOBS:-$(nproc)}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

step() { printf -- '-- %s\n' "$*"; }
# shellcheck source=SCRIPTDIR/../tests/support/display.sh
source tests/support/display.sh

work=$(mktemp -d "${TMPDIR:-/tmp}/tessel-package-XXXXXX")
xvfb_pid=""
tessel_pid=""
strace_pid=""
installed=no
cleanup() {
    local status=$?
    set +e
    for pid in $tessel_pid $strace_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    # A failed check must not leave the package on the machine.
    [ "$installed" = no ] || $sudo apt-get remove -y -q tessel tessel-cli >/dev/null
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

# ---- Build the package ----------------------------------------------------------------------
step "building the release preset and its packages"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
rm -f "$build"/tessel_*.deb "$build"/tessel-cli_*.deb
cpack --preset release
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb=$build/tessel_${version}_$(dpkg --print-architecture).deb
cli_deb=$build/tessel-cli_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "cpack did not write $deb"
[ -f "$cli_deb" ] || fail "cpack did not write $cli_deb"
# The application id, icon sizes and file types, as the build wrote them.
# shellcheck source=/dev/null
source "$build/packaging/package.env"

for package in "$deb" "$cli_deb"; do
    step "contents of $package"
    dpkg-deb --info "$package"
    dpkg-deb --contents "$package"
done

# The command line runs where no Qt is installed; whoever installs the window mostly wants it too.
# A Qt library's package is named libqt... (libqt6core6, libqt6widgets6, ...).
qt_package='(^|[ ,|])libqt[^ ,|]*'
cli_depends=$(dpkg-deb --field "$cli_deb" Depends)
echo "tessel-cli depends on: $cli_depends"
! grep -Eiq "$qt_package" <<<"$cli_depends" || fail "tessel-cli depends on a Qt library"
grep -Eq "(^|, )libc6( |,|$)" <<<"$cli_depends" || fail "tessel-cli's dependencies were not worked out"
grep -Eq "(^|, )tessel-cli( |,|$)" <<<"$(dpkg-deb --field "$deb" Recommends)" ||
    fail "tessel does not recommend tessel-cli"
[ "$(dpkg-deb --field "$deb" Description | head -1)" != \
    "$(dpkg-deb --field "$cli_deb" Description | head -1)" ] ||
    fail "the two packages share one summary"

# ---- Validate what the package ships --------------------------------------------------------
unpacked=$work/unpacked
dpkg-deb --extract "$deb" "$unpacked"
step "desktop-file-validate"
desktop-file-validate "$unpacked/usr/share/applications/$app_id.desktop"
echo "desktop entry: valid"
step "appstreamcli validate --no-net"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/$app_id.metainfo.xml"
step "lintian"
# Every tag is listed, down to the pedantic ones; only an error fails.
lintian_status=0
lintian --fail-on error --display-info --pedantic "$deb" "$cli_deb" >"$work/lintian.log" 2>&1 ||
    lintian_status=$?
grep -v '^running with root privileges' "$work/lintian.log" || true
[ "$lintian_status" -eq 0 ] || fail "lintian reports an error"
echo "lintian: no error"

# ---- Install ------------------------------------------------------------------------------
step "apt-get install ./$(basename "$cli_deb") ./$(basename "$deb")"
installed=yes
$sudo apt-get install -y -q --reinstall "$PWD/$cli_deb" "$PWD/$deb"

# Nothing tessel-cli needs, however far down, is a Qt library: installed alone on a machine
# without Qt it pulls none in. (This machine has Qt, so what apt-get would add here proves
# nothing; the whole tree of its dependencies does.)
step "apt-cache depends --recurse tessel-cli"
cli_tree=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances tessel-cli | grep -v '^ ' | sort -u)
echo "$(wc -l <<<"$cli_tree") packages: $(tr '\n' ' ' <<<"$cli_tree")"
! grep -Eiq "$qt_package" <<<"$cli_tree" || fail "tessel-cli pulls in a Qt library"
echo "no Qt library among them"

# Every file the package owns, and no other, where it belongs, and each one there.
expected=(
    /usr/bin/tessel
    /usr/share/tessel/Tessel.hlp
    "/usr/share/applications/$app_id.desktop"
    "/usr/share/metainfo/$app_id.metainfo.xml"
    /usr/share/mime/packages/tessel.xml
    "/usr/share/icons/hicolor/scalable/apps/$app_id.svg"
    /usr/share/man/man1/tessel.1.gz
    /usr/share/doc/tessel/copyright
    /usr/share/doc/tessel/changelog.gz
)
for size in "${icon_sizes[@]}"; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
done
cli_expected=(
    /usr/bin/tessel-cli
    /usr/share/man/man1/tessel-cli.1.gz
    /usr/share/bash-completion/completions/tessel-cli
    /usr/share/doc/tessel-cli/copyright
    /usr/share/doc/tessel-cli/changelog.gz
)
# Every file `package` owns is among the `files` named after it, and each of those is there.
owns_exactly() {
    local package=$1 owned file path
    shift
    step "dpkg -L $package"
    owned=$(dpkg -L "$package")
    echo "$owned"
    for file in "$@"; do
        grep -qxF "$file" <<<"$owned" || fail "$package does not hold $file"
        [ -f "$file" ] || fail "$file is not installed"
    done
    while read -r path; do
        [ -d "$path" ] && continue
        printf '%s\n' "$@" | grep -qxF "$path" || fail "unexpected file $path in $package"
    done <<<"$owned"
}
owns_exactly tessel "${expected[@]}"
owns_exactly tessel-cli "${cli_expected[@]}"
expected+=("${cli_expected[@]}")
[ -x /usr/bin/tessel ] || fail "/usr/bin/tessel is not executable"
[ -x /usr/bin/tessel-cli ] || fail "/usr/bin/tessel-cli is not executable"
for size in "${icon_sizes[@]}"; do
    file "/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png" |
        grep -q "PNG image data, $size x $size," || fail "the ${size}x${size} icon has another size"
done
echo "all ${#expected[@]} files are where they belong"

# The desktop's databases took the new types and offer Tessel for them.
for type in "$piece_type" "$checksum_type"; do
    [ -f "/usr/share/mime/$type.xml" ] || fail "the MIME database does not know $type"
    grep -q "^$type=.*$app_id.desktop" /usr/share/applications/mimeinfo.cache ||
        fail "the desktop does not offer Tessel for $type"
done
echo "the MIME database knows both types and offers Tessel for them"
# A checksum file is Tessel's by its first line: a download's .sha256 stays another program's.
printf '# Tessel checksums: size=1 chunk=1 pieces=1 name=a\n' >"$work/ours.sha256"
printf 'a download\n' >"$work/download.iso"
(cd "$work" && sha256sum download.iso >theirs.sha256)
[ "$(gio info -a standard::content-type "$work/ours.sha256" | sed -n 's/.*content-type: //p')" = \
    "$checksum_type" ] || fail "Tessel's checksum file is not known as $checksum_type"
[ "$(gio info -a standard::content-type "$work/theirs.sha256" | sed -n 's/.*content-type: //p')" != \
    "$checksum_type" ] || fail "another program's .sha256 file is taken for Tessel's"
echo "Tessel's checksum files are told by their first line; other .sha256 files stay others'"

# ---- Run the installed tessel-cli ------------------------------------------------------------
step "tessel-cli split --recovery, verify, repair and join, through /usr/bin/tessel-cli"
cli=$work/cli
mkdir "$cli"
head -c 3000000 /dev/urandom >"$cli/report.doc"
(cd "$cli" && /usr/bin/tessel-cli split report.doc --size 1M --output set --batch --recovery 2)
for piece in 1 2 3 R1 R2; do
    [ -f "$cli/set/report.doc.$piece.BRK" ] || fail "tessel-cli split did not write piece $piece"
done
[ -f "$cli/set/report.doc.sha256" ] && [ -f "$cli/set/report.doc.bat" ] ||
    fail "tessel-cli split did not write the checksum and batch files"
(cd "$cli/set" && sha256sum --strict -c report.doc.sha256)
/usr/bin/tessel-cli verify "$cli/set/report.doc"
# A piece lost: verify names it and fails; repair writes it anew, byte for byte.
mv "$cli/set/report.doc.2.BRK" "$cli/piece-2"
status=0
/usr/bin/tessel-cli verify "$cli/set/report.doc.sha256" >"$cli/verify.txt" || status=$?
cat "$cli/verify.txt"
[ "$status" -eq 1 ] || fail "verify of a set with a missing piece ended with status $status"
grep -qxF "$cli/set/report.doc.2.BRK: MISSING" "$cli/verify.txt" ||
    fail "verify did not name the missing piece"
/usr/bin/tessel-cli repair "$cli/set/report.doc.R1.BRK"
cmp "$cli/set/report.doc.2.BRK" "$cli/piece-2" || fail "the repaired piece differs"
/usr/bin/tessel-cli verify --quiet "$cli/set/report.doc" || fail "the repaired set does not verify"
# A join rebuilds a lost piece in the joined file.
rm "$cli/set/report.doc.1.BRK"
/usr/bin/tessel-cli join "$cli/set/report.doc.2.BRK" | tee "$cli/join.txt"
grep -qx "The Files have been successfully joined and verified, 1 piece rebuilt" "$cli/join.txt" ||
    fail "the join did not tell the piece it rebuilt"
cmp "$cli/set/report.doc" "$cli/report.doc" || fail "the joined file differs"
refused=0
/usr/bin/tessel-cli join "$cli/set/report.doc" 2>"$cli/refused.txt" || refused=$?
[ "$refused" -eq 1 ] || fail "a join over a file that holds data was not refused"
cat "$cli/refused.txt"
/usr/bin/tessel-cli --version
bash -c 'source /usr/share/bash-completion/completions/tessel-cli && complete -p tessel-cli' ||
    fail "the bash completion does not load"
man -l /usr/share/man/man1/tessel-cli.1.gz >/dev/null 2>"$cli/man.log" ||
    fail "the manual page does not format: $(cat "$cli/man.log")"
echo "the installed tessel-cli split, verified, repaired and joined the file byte for byte"

# ---- Start the installed Tessel -------------------------------------------------------------
step "starting /usr/bin/tessel under Xvfb"
start_xvfb

# Three pieces of a file and the empty file the split leaves beside them, as a user receives.
pieces=$work/pieces
mkdir "$pieces"
head -c 3000000 /dev/urandom >"$work/original.bin"
split -b 1457644 -a 1 --numeric-suffixes=1 --additional-suffix=.BRK "$work/original.bin" \
    "$pieces/sample.bin."
: >"$pieces/sample.bin"

# Started from a folder without a help file, so the installed one must be found; the second
# argument must be ignored. The files its main thread opens (the help file among them) are
# traced. No session bus: D-Bus would start one of its own for the display, which would outlive
# the program.
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work" DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
(cd "$work" && exec strace -qq -e trace=openat -o "$work/opened.log" \
    /usr/bin/tessel "$pieces/sample.bin.2.BRK" --ignored "$work/original.bin" \
    >"$work/tessel.log" 2>&1) &
strace_pid=$!
caption="^Tessel v\\.${version//./\\.}\$"
wait_for xdotool search --onlyvisible --name "$caption" ||
    fail "the main window did not appear: $(cat "$work/tessel.log")"
main=$(xdotool search --onlyvisible --name "$caption" | head -1)
tessel_pid=$(xdotool getwindowpid "$main")
sleep 0.5  # let the window finish its first drawing before it is clicked
eval "$(xdotool getwindowgeometry --shell "$main")"  # X, Y: the window's client origin
click_at() { xdotool mousemove "$((X + $1))" "$((Y + $2))" click 1; }
join_image=(259 61)
help_image=(211 386)

click_at "${join_image[@]}"
joined() { [ "$(stat -c %s "$pieces/sample.bin")" -eq 3000000 ]; }
wait_for joined || fail "Join did not rebuild the file named by the piece on the command line"
cmp "$pieces/sample.bin" "$work/original.bin" || fail "the joined file differs from the original"
echo "started with a piece, Tessel joined its file byte for byte"

click_at "${help_image[@]}"
wait_for xdotool search --onlyvisible --name '^Tessel Help$' || fail "the help window did not open"
grep -qE 'openat\(.*"/usr/share/tessel/Tessel\.hlp", [^)]*\) = [0-9]+$' "$work/opened.log" ||
    fail "the help viewer did not read /usr/share/tessel/Tessel.hlp"
echo "the help window shows /usr/share/tessel/Tessel.hlp"

kill "$tessel_pid"
wait "$strace_pid" 2>/dev/null || true
tessel_pid="" strace_pid=""

# ---- Remove --------------------------------------------------------------------------------
step "apt-get remove tessel tessel-cli"
$sudo apt-get remove -y -q tessel tessel-cli
installed=no
for file in "${expected[@]}"; do
    [ ! -e "$file" ] || fail "$file is still there after the removal"
done
for package in tessel tessel-cli; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        fail "dpkg still counts $package as installed"
    fi
done
echo "PASS: both packages build, validate, install, run (the window shows its help) and go again"
