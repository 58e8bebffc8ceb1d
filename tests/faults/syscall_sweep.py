#!/usr/bin/python3
"""Makes every system call that a split, a join or the batch writer makes on its files fail in
turn, and checks after each run that the user's data came to no harm.

For each scenario a clean run is traced first (strace -ff -y), to learn which calls the operation
makes on the scenario's files and how many of each; then each of those calls, one per run, fails
with EIO, ENOSPC and EACCES (strace -e inject=CALL:error=E:when=N) in a fresh copy of the
scenario's folder. Reads, writes and kernel copies are also cut short, one per run, by a library
preloaded into the driver (fault_shim.cpp), since a tracer can fail a call or fake its result but
never shorten it. Where the system forbids tracing, that library fails the calls too (the C
library's functions then stand for the system calls). strace counts a call per thread and over
every file, so a call whose count would not name the same file in every run (one that other
threads make on the scenario's files, or that a sanitizer's memory probes make on a pipe
meanwhile) fails through that library too, which counts each thread's calls on those files only.
The calls are enumerated from what the clean run shows, never from a list, so the sweep follows
the engine as its calls change.

After every run:
  - the driver exited 0 with a success text or 1 with a failure text: no crash, no hang, no
    failure reported as success or success as failure;
  - it held as many descriptors after the operation as before;
  - the input (the split's file; the join's pieces and list) is byte for byte as it was;
  - the join's target is byte for byte as it was, or the original file, nothing else;
  - no file but the set's own names is left in the folders (no scratch file);
  - no file written has a permission bit that the input or a piece (or a replaced target) lacks;
  - a run that reports success left a correct result: the pieces are the input's, cut at the
    chunk size, with no older piece after the last, and their list is accepted by
    `sha256sum --strict -c`; the batch file names exactly those pieces; a joined target equals
    the original;
  - a join of that name run afterwards, without faults, never reports success for bytes that are
    not the original (or, after a failed split over an older set, the older original).

Calls left out, and why:
  - calls that do not touch the scenario's files (the dynamic loader, OpenSSL reading its
    configuration, the driver's own count of its descriptors and its output): a fault there is
    not one the file services answer for, and failing the loader only shows that a program cannot
    start;
  - close, under strace only: Linux releases the descriptor even when close fails, but a tracer
    that fails the call skips it, so the descriptor would stay open and the run would be charged
    with a leak the program did not make. The preloaded library fails close soundly (it closes,
    then reports the error) and does sweep it;
  - leaks, under strace only, in builds with the sanitizers: LeakSanitizer cannot stop a traced
    process. The clean runs and those with the preloaded library still check them.

Usage: syscall_sweep.py --driver COMMAND --shim LIBRARY [--jobs N] [--scenarios A,B] [--keep]
                        [--without-strace] [--only ID]
  --only ID replays one run (as printed with each failure), keeps its folder and shows the exact
  command and what the run left; --without-strace fails the calls through the preloaded library
  as where ptrace is denied. Exit status: 0 when every run kept every promise, 1 when one did
  not, 77 when neither tracing nor preloading works here.
"""

import argparse
import concurrent.futures
import dataclasses
import os
import random
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

NAME = "data.bin"
EXTENSION = ".BRK"
LIST_SUFFIX = ".sha256"
BATCH_SUFFIX = ".bat"
CHUNK = 4096
SPLIT_SUCCESS = {"Successfully broken file into pieces"}
JOIN_SUCCESS = {"The Files have been successfully joined",
                "The Files have been successfully joined and verified"}
INPUT_MODE = 0o600
OLDER_TARGET_MODE = 0o640
UMASK = 0o022
ERRORS = ("EIO", "ENOSPC", "EACCES")
# Every occurrence of a call up to this many is swept, then an even sample of the rest (always
# with the last): enough to meet each piece's calls, few enough to stay within minutes.
FIRST_OCCURRENCES = 32
SAMPLED_OCCURRENCES = 8
RUN_TIMEOUT = 30
# A run whose fault missed its call is made again this many times in all: threads may still order
# their calls differently from one run to the next.
ATTEMPTS = 3
# Builds instrumented by sanitizers (the test script sets this) run many times slower: there each
# call fails once, with the errors in turn, rather than once with each.
SANITIZED = os.environ.get("TESSEL_SANITIZED") == "1"
# Calls that move bytes, which the preloaded library can cut short.
MOVING_CALLS = {"read", "__read_chk", "write", "pread", "pread64", "pwrite", "pwrite64",
                "copy_file_range"}
# The one call a tracer cannot fail faithfully (see above).
UNFAITHFUL_UNDER_STRACE = {"close"}

STRACE = "strace"
SHIM_ROOT = "TESSEL_FAULT_ROOT"
SHIM_LOG = "TESSEL_FAULT_LOG"
SHIM_FAULT = "TESSEL_FAULT"

# The driver, as a command: everything the sweep runs goes through these two.
DRIVER = []


def split_command(input_path, output_folder, batch):
    batch_option = ["--batch"] if batch else []
    return DRIVER + ["split", input_path, output_folder, str(CHUNK)] + batch_option


def join_command(target):
    return DRIVER + ["join", target]


def piece_name(n):
    return f"{NAME}.{n}{EXTENSION}"


def pieces_for(length):
    return max(1, -(-length // CHUNK))


# ---------------------------------------------------------------------------------------------
# Scenarios: the folder a run works in holds src/ (the split's input) and out/ (the output
# folder, where the join's target and pieces lie). Each run gets a fresh copy of its scenario's
# template; the original bytes are kept apart, in memory, to compare with.

@dataclasses.dataclass
class Originals:
    new: bytes
    old: bytes
    older_target: bytes


def make_originals():
    rng = random.Random(13)
    return Originals(new=rng.randbytes(2 * CHUNK + 1808), old=rng.randbytes(4 * CHUNK + 3000),
                     older_target=rng.randbytes(7000))


@dataclasses.dataclass
class Scenario:
    name: str
    operation: str          # "split" or "join"
    batch: bool = False
    clean_succeeds: bool = True
    # What a join of out/NAME may rebuild and call a success.
    acceptable_targets: tuple = ()

    def command(self, folder):
        if self.operation == "split":
            return split_command(os.path.join(folder, "src", NAME), os.path.join(folder, "out"),
                                 self.batch)
        return join_command(os.path.join(folder, "out", NAME))


def write_file(path, data, mode):
    with open(path, "wb") as file:
        file.write(data)
    os.chmod(path, mode)


def run_driver(command):
    return subprocess.run(command, capture_output=True, text=True, timeout=RUN_TIMEOUT)


def make_set(workspace, data, folder):
    """Splits `data` cleanly into `folder` with the driver, leaving its placeholder there."""
    source = tempfile.mkdtemp(dir=workspace)
    write_file(os.path.join(source, NAME), data, INPUT_MODE)
    result = run_driver(split_command(os.path.join(source, NAME), folder, False))
    shutil.rmtree(source)
    if result.returncode != 0:
        sys.exit(f"cannot build a scenario: the clean split failed: {result.stdout}")
    listed = subprocess.run(["sha256sum", "--strict", "--quiet", "-c", NAME + LIST_SUFFIX],
                            cwd=folder, capture_output=True, text=True)
    if listed.returncode != 0:
        sys.exit(f"cannot build a scenario: the clean split's list fails: {listed.stdout}")


def build_scenarios(workspace, originals):
    """Each scenario with its template folder, from which every run gets a fresh copy."""
    scenarios = []

    def add(scenario, prepare):
        template = os.path.join(workspace, "templates", scenario.name)
        os.makedirs(os.path.join(template, "src"))
        os.makedirs(os.path.join(template, "out"))
        prepare(os.path.join(template, "src"), os.path.join(template, "out"))
        scenarios.append((scenario, template))

    def input_of(data):
        return lambda src, out: write_file(os.path.join(src, NAME), data, INPUT_MODE)

    def older_set(src, out):
        input_of(originals.new)(src, out)
        make_set(workspace, originals.old, out)

    def new_set(src, out):
        make_set(workspace, originals.new, out)

    def onto_older_file(src, out):
        new_set(src, out)
        write_file(os.path.join(out, NAME), originals.older_target, OLDER_TARGET_MODE)

    def without_list(src, out):
        new_set(src, out)
        os.unlink(os.path.join(out, NAME + LIST_SUFFIX))
        os.unlink(os.path.join(out, NAME))

    def damaged_piece(src, out):
        new_set(src, out)
        with open(os.path.join(out, piece_name(2)), "r+b") as piece:
            first = piece.read(1)
            piece.seek(0)
            piece.write(bytes([first[0] ^ 0xFF]))

    new, old = originals.new, originals.old
    add(Scenario("split_into_empty_folder", "split", acceptable_targets=(new,)),
        input_of(new))
    add(Scenario("split_over_older_set", "split", acceptable_targets=(new, old)), older_set)
    add(Scenario("split_of_empty_file", "split", acceptable_targets=(b"",)), input_of(b""))
    add(Scenario("split_with_batch_file", "split", batch=True, acceptable_targets=(new,)),
        input_of(new))
    add(Scenario("join_with_list_onto_placeholder", "join", acceptable_targets=(new,)), new_set)
    add(Scenario("join_onto_older_file", "join", acceptable_targets=(new,)), onto_older_file)
    add(Scenario("join_without_list", "join", acceptable_targets=(new,)), without_list)
    # The list tells a damaged piece; a join that loses sight of the list would not.
    add(Scenario("join_with_damaged_piece", "join", clean_succeeds=False, acceptable_targets=()),
        damaged_piece)
    return scenarios


# ---------------------------------------------------------------------------------------------
# The state of a folder, and the checks after a run.

@dataclasses.dataclass
class Entry:
    data: bytes
    mode: int
    regular: bool


SUBFOLDERS = ("src", "out")


def snapshot(folder):
    """Everything in a run's folder, by its path there ("out/data.bin.1.BRK"); anything beside
    src/ and out/, or in a folder below them, is listed too, under its own path."""
    state = {}
    for top, folders, files in os.walk(folder):
        for name in sorted(files + folders):
            path = os.path.join(top, name)
            key = os.path.relpath(path, folder)
            if key in SUBFOLDERS:
                continue
            info = os.lstat(path)
            regular = os.path.isfile(path) and not os.path.islink(path)
            data = open(path, "rb").read() if regular else b""
            state[key] = Entry(data, info.st_mode & 0o7777, regular)
    return state


def parse_output(result):
    status = re.search(r"^status: (.*)$", result.stdout, re.M)
    batch = re.search(r"^batch: (.*)$", result.stdout, re.M)
    descriptors = re.search(r"descriptors before=(-?\d+) after=(-?\d+)", result.stderr)
    return (status.group(1) if status else None, batch.group(1) if batch else None,
            (int(descriptors.group(1)), int(descriptors.group(2))) if descriptors else None)


def sanitizer_report(result):
    """The summary a sanitizer printed, if any: UndefinedBehaviorSanitizer may exit with 1, as a
    failure does."""
    match = re.search(r"^SUMMARY: (.*)$|runtime error: (.*)$", result.stderr, re.M)
    return (match.group(1) or match.group(2)) if match else None


def describe(data, originals):
    for label, known in (("the original", originals.new), ("the older original", originals.old),
                         ("the older target", originals.older_target), ("empty", b"")):
        if data == known:
            return label
    return f"{len(data)} other bytes"


class Checker:
    def __init__(self, scenario, originals, before):
        self.scenario = scenario
        self.originals = originals
        self.before = before
        self.problems = []

    def fail(self, text):
        self.problems.append(text)

    def check(self, folder, result, keep=False):
        """Every promise of one run; the list of those broken. With `keep`, the folder as the run
        left it is kept beside it, since the join run afterwards changes it."""
        after = snapshot(folder)
        if keep:
            fresh_copy(folder, folder + AS_LEFT)
        succeeded = self.check_report(result)
        self.check_input(after)
        self.check_names(after)
        self.check_permissions(after)
        self.check_target(after)
        if succeeded:
            self.check_result(folder, after)
        self.check_next_join(folder)
        return self.problems

    def check_report(self, result):
        if result is None:
            self.fail(f"hung (no end within {RUN_TIMEOUT} s)")
            return False
        if sanitizer_report(result):
            self.fail(f"a sanitizer reported: {sanitizer_report(result)}")
        if result.returncode not in (0, 1):
            self.fail(f"ended with exit status {result.returncode} (a crash or a signal)")
            return False
        status, batch, descriptors = parse_output(result)
        success = SPLIT_SUCCESS if self.scenario.operation == "split" else JOIN_SUCCESS
        if status is None:
            self.fail("printed no status")
        elif result.returncode == 0 and (status not in success or batch is not None):
            self.fail(f"exit 0 with the failure text '{batch or status}'")
        elif result.returncode == 1 and status in success and batch is None:
            self.fail(f"exit 1 with the success text '{status}'")
        elif result.returncode == 1 and not status and batch is None:
            self.fail("failed without a failure text")
        if descriptors is None:
            self.fail("printed no descriptor count")
        elif descriptors[0] != descriptors[1]:
            self.fail(f"left {descriptors[1] - descriptors[0]} descriptor(s) open")
        return result.returncode == 0

    def inputs(self):
        if self.scenario.operation == "split":
            return [f"src/{NAME}"]
        return [key for key in self.before if key != f"out/{NAME}"]

    def check_input(self, after):
        for key in self.inputs():
            was, now = self.before[key], after.get(key)
            if now is None:
                self.fail(f"input {key} is gone")
            elif (now.data, now.mode, now.regular) != (was.data, was.mode, was.regular):
                self.fail(f"input {key} changed (now {describe(now.data, self.originals)}, "
                          f"mode {now.mode:04o})")

    def allowed_name(self, key):
        sub, _, name = key.rpartition("/")
        if sub not in SUBFOLDERS:
            return False
        if sub == "src":
            return name == NAME
        if name in (NAME, NAME + LIST_SUFFIX) or re.fullmatch(
                re.escape(NAME) + r"\.[1-9][0-9]*" + re.escape(EXTENSION), name):
            return True
        return self.scenario.batch and name == NAME + BATCH_SUFFIX

    def check_names(self, after):
        for key, entry in after.items():
            if not self.allowed_name(key):
                self.fail(f"left a stray file {key}")
            elif not entry.regular:
                self.fail(f"left {key} as something other than a regular file")

    def permission_limit(self):
        if self.scenario.operation == "split":
            return self.before[f"src/{NAME}"].mode & ~UMASK
        limit = 0o7777
        for key, entry in self.before.items():
            if key.endswith(EXTENSION):
                limit &= entry.mode
        if f"out/{NAME}" in self.before:
            limit &= self.before[f"out/{NAME}"].mode
        return limit & ~UMASK

    def check_permissions(self, after):
        limit = self.permission_limit()
        too_open = []
        for key, entry in after.items():
            was = self.before.get(key)
            unchanged = was is not None and (was.data, was.mode) == (entry.data, entry.mode)
            if not unchanged and entry.mode & ~limit:
                too_open.append(f"{key} {entry.mode:04o}")
        if too_open:
            self.fail(f"more open than {limit:04o}: {', '.join(too_open)}")

    def check_target(self, after):
        key = f"out/{NAME}"
        was, now = self.before.get(key), after.get(key)
        if self.scenario.operation == "split":
            # The placeholder holds no data, whatever became of the split.
            if now is not None and now.data:
                self.fail(f"the placeholder holds {describe(now.data, self.originals)}")
            return
        unchanged = (now is None and was is None) or (
            now is not None and was is not None and (now.data, now.mode) == (was.data, was.mode))
        if not unchanged and (now is None or now.data != self.originals.new):
            self.fail("the target is neither as it was nor the original: "
                      + ("gone" if now is None else describe(now.data, self.originals)))

    def check_result(self, folder, after):
        if self.scenario.operation == "join":
            now = after.get(f"out/{NAME}")
            if now is None or now.data != self.originals.new:
                self.fail("reported success without the original in the target")
            return
        data = self.before[f"src/{NAME}"].data
        count = pieces_for(len(data))
        for n in range(1, count + 1):
            piece = after.get(f"out/{piece_name(n)}")
            if piece is None or piece.data != data[(n - 1) * CHUNK:n * CHUNK]:
                self.fail(f"reported success but piece {n} is "
                          + ("missing" if piece is None else "wrong"))
        if f"out/{piece_name(count + 1)}" in after:
            self.fail(f"reported success but left older piece {count + 1} after the last")
        self.check_list(folder, after, count)
        if self.scenario.batch:
            batch = after.get(f"out/{NAME}{BATCH_SUFFIX}")
            named = re.findall(re.escape(NAME) + r"\.(\d+)" + re.escape(EXTENSION),
                               batch.data.decode("latin-1")) if batch else None
            if named != [str(n) for n in range(1, count + 1)]:
                self.fail("reported success but the batch file does not name exactly the pieces")

    def check_list(self, folder, after, count):
        listing = after.get(f"out/{NAME}{LIST_SUFFIX}")
        if listing is None:
            self.fail("reported success without a checksum file")
            return
        checked = subprocess.run(["sha256sum", "--strict", "--quiet", "-c", NAME + LIST_SUFFIX],
                                 cwd=os.path.join(folder, "out"), capture_output=True, text=True)
        if checked.returncode != 0:
            self.fail("reported success but sha256sum --strict -c refuses the list: "
                      + " ".join((checked.stdout + checked.stderr).split())[:120])
        named = re.findall(r"^[0-9a-f]{64}  " + re.escape(NAME) + r"\.(\d+)" + re.escape(EXTENSION)
                           + "$", listing.data.decode("latin-1"), re.M)
        if named != [str(n) for n in range(1, count + 1)]:
            self.fail("reported success but the list does not name exactly the pieces")

    def check_next_join(self, folder):
        target = os.path.join(folder, "out", NAME)
        try:
            result = run_driver(join_command(target))
        except subprocess.TimeoutExpired:
            self.fail("the next join hung")
            return
        if sanitizer_report(result):
            self.fail(f"in the next join a sanitizer reported: {sanitizer_report(result)}")
        if result.returncode not in (0, 1):
            self.fail(f"the next join ended with exit status {result.returncode}")
        elif result.returncode == 0:
            data = open(target, "rb").read() if os.path.isfile(target) else None
            if data not in self.scenario.acceptable_targets:
                self.fail("the next join reported success for "
                          + ("no file" if data is None else describe(data, self.originals)))


# ---------------------------------------------------------------------------------------------
# Faults: how a run is made to fail, learned from a clean run.

@dataclasses.dataclass
class Fault:
    method: str      # "strace" or "shim"
    call: str
    occurrence: int
    action: str      # an errno name, or "short"
    target: str      # the file the call named in the clean run, under ROOT

    def id(self, scenario):
        return f"{scenario}:{self.method}:{self.call}:{self.occurrence}:{self.action}"


ROOT_MARK = "ROOT"
AS_LEFT = ".as-left"


def normalised(path, folder):
    """A path under the run's folder as ROOT/..., with a nameless file's inode number dropped."""
    return re.sub(r"/#\d+", "/#", ROOT_MARK + path[len(folder):])


def comparable(target):
    """A target as two runs agree on it: any name but the set's own and the folders' (a scratch
    file's, which may be drawn at random) stands for every such name."""
    folder, _, name = target.rpartition("/")
    own = re.fullmatch(re.escape(NAME) + r"(\.[1-9][0-9]*" + re.escape(EXTENSION) + "|"
                       + re.escape(LIST_SUFFIX) + "|" + re.escape(BATCH_SUFFIX) + ")?", name)
    if target == ROOT_MARK or own or name in SUBFOLDERS or name.startswith("#"):
        return target
    return f"{folder}/(scratch)"


def strace_target(line, folder):
    match = re.search(r"[<\"](" + re.escape(folder) + r"(?:/[^>\"]*)?)[>\"]", line)
    return normalised(match.group(1), folder) if match else None


def strace_call(line):
    match = re.match(r"^(?:\d+ +)?([a-z_0-9]+)\(", line)
    return match.group(1) if match else None


def strace_command(log, trace, inject=None):
    command = [STRACE, "-f", "-qq", "-y", "-o", log]
    if inject is None:
        return command + ["-ff"]
    return command + ["--seccomp-bpf", "-e", f"trace={trace}", "-e", f"inject={trace}:{inject}"]


def traced_environment():
    """LeakSanitizer stops the world through ptrace, which a traced process cannot: under strace
    a sanitized driver checks everything but leaks (the runs with the preloaded library, untraced,
    still check those)."""
    options = os.environ.get("ASAN_OPTIONS")
    return dict(os.environ, ASAN_OPTIONS=(options + ":" if options else "") + "detect_leaks=0")


@dataclasses.dataclass
class Traced:
    """What a clean run under strace showed: the first thread's calls that touch the folder, as
    call -> [(n, target)], and the calls whose count strace cannot tie to a file: those other
    threads make on the folder's files, and those the first thread also makes on a pipe while it
    works there."""
    calls: dict
    unsteady: set


def learn_strace(scenario, folder, logs):
    """Runs cleanly under strace and learns its calls. strace counts each call per thread, and a
    fault at N lands on the Nth such call of every thread that makes one, on whatever file (the
    dynamic loader's own reads among them): a call that a thread besides the first makes on the
    folder's files is left to the preloaded library, which counts each thread's calls apart and
    only those on the folder's files. So is a call the first thread also makes on a pipe while
    it works on the folder: a sanitizer probes memory by writing to a pipe, as often as other
    threads leave it to, so the Nth write differs from run to run (and a sanitizer whose probe
    fails stops in a check of its own, never to end)."""
    prefix = os.path.join(logs, "clean")
    result = subprocess.run(strace_command(prefix, None) + scenario.command(folder),
                            env=traced_environment(), capture_output=True, text=True,
                            timeout=RUN_TIMEOUT)
    traced = Traced({}, set())
    for log in sorted(f for f in os.listdir(logs) if f.startswith("clean.")):
        lines = open(os.path.join(logs, log), errors="replace").readlines()
        first_thread = any(line.startswith("execve(") for line in lines)
        counts = {}
        for line in lines:
            call = strace_call(line)
            if call is None:
                continue
            counts[call] = counts.get(call, 0) + 1
            target = strace_target(line, folder)
            if target is None or call in UNFAITHFUL_UNDER_STRACE:
                continue
            if first_thread:
                traced.calls.setdefault(call, {}).setdefault(counts[call], target)
            else:
                traced.unsteady.add(call)
        if first_thread:
            traced.unsteady |= calls_on_pipes_between_calls_on(lines, folder)
    traced.calls = {call: sorted(found.items()) for call, found in traced.calls.items()}
    return result, traced


def calls_on_pipes_between_calls_on(lines, folder):
    """The calls one thread makes on a pipe between its first and last call on the folder."""
    on_folder = [i for i, line in enumerate(lines) if strace_target(line, folder) is not None]
    if not on_folder:
        return set()
    return {strace_call(line) for line in lines[on_folder[0]:on_folder[-1]]
            if "<pipe:[" in line and strace_call(line) is not None}


def shim_environment(shim, folder, log, fault=None):
    environment = dict(os.environ, LD_PRELOAD=shim, **{SHIM_ROOT: folder, SHIM_LOG: log})
    if fault is not None:
        environment[SHIM_FAULT] = f"{fault.call}:{fault.occurrence}:{fault.action}"
    return environment


def learn_shim(scenario, folder, logs, shim):
    """Runs cleanly with the library preloaded; its counted calls, as
    call -> [(n, bytes, target)]."""
    log = os.path.join(logs, "shim-clean")
    result = subprocess.run(scenario.command(folder), env=shim_environment(shim, folder, log),
                            capture_output=True, text=True, timeout=RUN_TIMEOUT)
    calls = {}
    if os.path.exists(log):
        for line in open(log, errors="replace"):
            call, n, size, target = line.rstrip("\n").split(" ", 3)
            calls.setdefault(call, []).append((int(n), int(size), normalised(target, folder)))
    return result, calls


def sample(occurrences):
    """All of the first few, then an even sample of the rest with the last among them."""
    head, rest = occurrences[:FIRST_OCCURRENCES], occurrences[FIRST_OCCURRENCES:]
    if len(rest) <= SAMPLED_OCCURRENCES:
        return head + rest
    step = len(rest) / SAMPLED_OCCURRENCES
    return head + [rest[min(len(rest) - 1, int((i + 1) * step) - 1)]
                   for i in range(SAMPLED_OCCURRENCES)]


def errors_for(index):
    return [ERRORS[index % len(ERRORS)]] if SANITIZED else ERRORS


# The system call behind a function the preloaded library counts, where their names differ.
SYSCALL_BEHIND = {"pread": "pread64", "pwrite": "pwrite64", "__read_chk": "read",
                  "open": "openat", "open64": "openat", "openat64": "openat",
                  "fstatat": "newfstatat", "fstatat64": "newfstatat", "stat": "newfstatat",
                  "lstat": "newfstatat", "fstat64": "fstat", "ftruncate64": "ftruncate"}


def strace_name(function):
    return SYSCALL_BEHIND.get(function, function)


def function_of(call):
    """The function a call counted by the preloaded library is of: "fsync@2" is fsync."""
    return call.split("@")[0]


def failing_faults(method, calls):
    faults = []
    for call, found in sorted(calls.items()):
        for index, (n, *_, target) in enumerate(sample(found)):
            faults += [Fault(method, call, n, error, target) for error in errors_for(index)]
    return faults


def plan_faults(traced, shim_calls, use_strace):
    if use_strace:
        # The calls strace cannot count faithfully fail through the library, in every thread.
        faults = failing_faults("strace", {call: found for call, found in traced.calls.items()
                                           if call not in traced.unsteady})
        faults += failing_faults("shim", {call: found for call, found in shim_calls.items()
                                          if strace_name(function_of(call)) in traced.unsteady})
    else:
        faults = failing_faults("shim", shim_calls)
    for call, found in sorted(shim_calls.items()):
        if function_of(call) in MOVING_CALLS:
            movable = [(n, size, target) for n, size, target in found if size > 1]
            faults += [Fault("shim", call, n, "short", target) for n, _, target in sample(movable)]
    return faults


# ---------------------------------------------------------------------------------------------
# Runs.

@dataclasses.dataclass
class Sweep:
    workspace: str
    shim: str
    originals: Originals
    use_strace: bool
    use_shim: bool
    keep: bool = False


def fault_command(fault, scenario, folder, log, shim):
    """The command and environment of one faulted run."""
    if fault.method == "strace":
        inject = f"error={fault.action}:when={fault.occurrence}"
        return strace_command(log, fault.call, inject) + scenario.command(folder), \
            traced_environment()
    return scenario.command(folder), shim_environment(shim, folder, log, fault)


def injected_target(fault, log, folder):
    """The file the injected call named, or None when no call was injected."""
    if not os.path.exists(log):
        return None
    for line in open(log, errors="replace"):
        injected = "(INJECTED)" in line if fault.method == "strace" else line.endswith(
            " INJECTED\n")
        if injected:
            if fault.method == "strace":
                return strace_target(line, folder) or "elsewhere"
            return normalised(line.rstrip("\n").split(" ", 3)[3][:-len(" INJECTED")], folder)
    return None


def fresh_copy(template, folder):
    shutil.copytree(template, folder, copy_function=shutil.copy2, symlinks=True)


def run_fault(sweep, scenario, template, fault, index):
    """One faulted run and its checks, made again where the fault missed its call; the problems
    found, the number of runs made, and what replaying it needs."""
    for attempt in range(1, ATTEMPTS + 1):
        problems, *replay = run_fault_once(sweep, scenario, template, fault, f"{index}.{attempt}")
        if not problems or not problems[-1].startswith(MISSED):
            break
    return problems, attempt, *replay


MISSED = "the fault missed its call"


def run_fault_once(sweep, scenario, template, fault, index):
    folder = os.path.join(sweep.workspace, "runs", f"{index}")
    log = folder + ".log"
    fresh_copy(template, folder)
    before = snapshot(folder)
    command, environment = fault_command(fault, scenario, folder, log, sweep.shim)
    try:
        result = subprocess.run(command, env=environment, capture_output=True, text=True,
                                timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        result = None
    checker = Checker(scenario, sweep.originals, before)
    problems = checker.check(folder, result, sweep.keep)
    landed = injected_target(fault, log, folder)
    if landed is None or comparable(landed) != comparable(fault.target):
        problems.append(f"{MISSED} ({ATTEMPTS} attempts): it "
                        + (f"hit {landed}" if landed else "never fired")
                        + f", not {fault.target} as in the clean run")
    if not sweep.keep:
        shutil.rmtree(folder, ignore_errors=True)
        if os.path.exists(log):
            os.unlink(log)
    return problems, command, environment, folder, log


def clean_problems(sweep, scenario, template, name, runner):
    """Runs the scenario once without faults through `runner` and checks it."""
    folder = os.path.join(sweep.workspace, "learn", f"{scenario.name}-{name}")
    logs = folder + ".logs"
    os.makedirs(logs)
    fresh_copy(template, folder)
    before = snapshot(folder)
    result, learned = runner(folder, logs)
    problems = Checker(scenario, sweep.originals, before).check(folder, result)
    if result is not None and (result.returncode == 0) != scenario.clean_succeeds:
        problems.append("it " + ("failed: " + (parse_output(result)[0] or "")
                                 if scenario.clean_succeeds else "succeeded"))
    return [f"({name}) {problem}" for problem in problems], learned


def replay_hint(arguments, fault_id):
    script = os.path.abspath(__file__)
    return (f"{sys.executable} {shlex.quote(script)} --driver {shlex.quote(arguments.driver)}"
            f" --shim {shlex.quote(arguments.shim)} --only {shlex.quote(fault_id)}")


def print_replay(problems, command, environment, folder, log):
    print("command:")
    shown_environment = [f"{key}={shlex.quote(value)}" for key, value in (environment or {}).items()
                         if key.startswith("TESSEL_FAULT") or key in ("LD_PRELOAD", "ASAN_OPTIONS")]
    print("  " + " ".join(shown_environment + [shlex.quote(part) for part in command]))
    print(f"folder kept: {folder} (after the next join), {folder}{AS_LEFT} (as the run left it)")
    print(f"log: {log}\nwhat the run left:")
    for key, entry in snapshot(folder + AS_LEFT).items():
        print(f"  {key}: {len(entry.data)} bytes, mode {entry.mode:04o}")
    print("verdict: " + ("; ".join(problems) if problems else "every promise kept"))


def probe_methods(shim, workspace):
    """Whether tracing works here, and whether the preloaded library sees a program's calls."""
    traced = shutil.which(STRACE) is not None and subprocess.run(
        [STRACE, "-qq", "-o", os.devnull, "true"], capture_output=True).returncode == 0
    probe = os.path.join(workspace, "probe")
    os.makedirs(probe)
    log = os.path.join(workspace, "probe.log")
    subprocess.run(["cat", os.path.join(probe, "missing")], env=shim_environment(shim, probe, log),
                   capture_output=True)
    return traced, os.path.exists(log)


def scratch_space():
    """A memory-backed folder when there is one: the sweep flushes thousands of small files."""
    shm = "/dev/shm"
    if os.path.isdir(shm) and os.access(shm, os.W_OK | os.X_OK):
        return shm
    return None


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--driver", required=True, help="the command that runs one operation")
    parser.add_argument("--shim", required=True, help="the preloaded fault library")
    parser.add_argument("--jobs", type=int, default=min(2, os.cpu_count() or 1))
    parser.add_argument("--only", help="replay one run, as printed with its failure")
    parser.add_argument("--scenarios", help="sweep only these scenarios, named with commas")
    parser.add_argument("--keep", action="store_true", help="keep every run's folder")
    parser.add_argument("--without-strace", action="store_true",
                        help="fail calls through the preloaded library, as where ptrace is denied")
    return parser.parse_args()


def chosen_scenarios(arguments, scenarios):
    if arguments.only:
        names = [arguments.only.split(":")[0]]
    elif arguments.scenarios:
        names = arguments.scenarios.split(",")
    else:
        return scenarios
    chosen = [(scenario, template) for scenario, template in scenarios if scenario.name in names]
    if len(chosen) != len(names):
        sys.exit(f"no scenario among {', '.join(names)} in this sweep")
    return chosen


def learn(sweep, scenario, template):
    """The clean runs, checked as any other: their problems, their number, and the faults that
    the calls they made give."""
    problems, learned_strace, learned_shim = [], Traced({}, set()), {}
    if sweep.use_strace:
        found, learned_strace = clean_problems(
            sweep, scenario, template, "strace",
            lambda folder, logs: learn_strace(scenario, folder, logs))
        problems += found
    if sweep.use_shim:
        found, learned_shim = clean_problems(
            sweep, scenario, template, "shim",
            lambda folder, logs: learn_shim(scenario, folder, logs, sweep.shim))
        problems += found
    faults = plan_faults(learned_strace, learned_shim, sweep.use_strace)
    calls = learned_strace.calls if sweep.use_strace else learned_shim
    short = sum(1 for fault in faults if fault.action == "short")
    print(f"{scenario.name}: {sum(len(found) for found in calls.values())} calls on its files ("
          + ", ".join(f"{call} {len(found)}" for call, found in sorted(calls.items()))
          + f"); {len(faults) - short} runs with a call failing, {short} with one cut short")
    return problems, sweep.use_strace + sweep.use_shim, faults


def sweep_scenario(sweep, pool, scenario, template, first_index, arguments):
    """Every faulted run of one scenario: the number of runs made and the failures."""
    problems, runs, faults = learn(sweep, scenario, template)
    failures = [f"FAIL {scenario.name} clean run: {'; '.join(problems)}"] if problems else []
    futures = {pool.submit(run_fault, sweep, scenario, template, fault, first_index + i): fault
               for i, fault in enumerate(faults)}
    for future in concurrent.futures.as_completed(futures):
        fault = futures[future]
        problems, attempts, *_ = future.result()
        runs += attempts
        if problems:
            failures.append(f"FAIL {fault.id(scenario.name)} ({fault.target}): "
                            f"{'; '.join(problems)}\n"
                            f"     replay: {replay_hint(arguments, fault.id(scenario.name))}")
    return runs, failures


def replay(sweep, arguments, scenario, template):
    problems, _, faults = learn(sweep, scenario, template)
    if problems:
        print(f"the clean run: {'; '.join(problems)}")
    faults = [fault for fault in faults if fault.id(scenario.name) == arguments.only]
    if not faults:
        sys.exit(f"no run {arguments.only} in this sweep")
    problems, _, *kept = run_fault(sweep, scenario, template, faults[0], 0)
    print_replay(problems, *kept)
    return 0


def print_methods(sweep, arguments):
    print(f"System-call fault sweep: driver {arguments.driver}")
    print("faults through "
          + ("strace" if sweep.use_strace else "the preloaded library (no ptrace)")
          + ("; short reads and writes through the preloaded library" if sweep.use_shim else
             "; SHORT READS AND WRITES NOT SWEPT: the preloaded library sees no call here"))
    if SANITIZED:
        print("sanitized build: each call fails once, with " + ", ".join(ERRORS) + " in turn")
    print("left out: calls on other files (loader, OpenSSL's configuration, the driver's own "
          "output)" + ("; close, which strace cannot fail and still release" if sweep.use_strace
                       else ""))


def main():
    arguments = parse_arguments()
    DRIVER[:] = shlex.split(arguments.driver)
    os.umask(UMASK)
    started = time.monotonic()
    workspace = tempfile.mkdtemp(prefix="tessel-sweep.", dir=scratch_space())
    shim = os.path.abspath(arguments.shim)
    use_strace, use_shim = probe_methods(shim, workspace)
    if not use_strace and not use_shim:
        print("SKIP: this system allows neither tracing (ptrace) nor preloading (LD_PRELOAD)")
        shutil.rmtree(workspace)
        return 77
    sweep = Sweep(workspace, shim, make_originals(), use_strace and not arguments.without_strace,
                  use_shim, keep=arguments.keep or arguments.only is not None)
    scenarios = chosen_scenarios(arguments, build_scenarios(workspace, sweep.originals))
    print_methods(sweep, arguments)
    if arguments.only:
        return replay(sweep, arguments, *scenarios[0])

    failures, runs = [], 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, arguments.jobs)) as pool:
        for scenario, template in scenarios:
            made, failed = sweep_scenario(sweep, pool, scenario, template, runs, arguments)
            runs += made
            failures += failed
    for line in sorted(failures):
        print(line)
    print(f"{runs} runs in {time.monotonic() - started:.0f} s: "
          + (f"{len(failures)} failed" if failures else "every promise kept"))
    if not sweep.keep:
        shutil.rmtree(workspace, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
