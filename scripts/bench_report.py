"""Prints the benchmark's results with each target and its verdict.

scripts/bench.sh leaves, in the folder given as the only argument, hyperfine's JSON export of
every side it timed as MEDIUM/CHUNK/SIDE.json (with SIDE.rss beside it: the highest peak memory
in KiB that tessel_bench reported), hash/*.json (one core hashing the input), start/*.json
(starting tessel_bench and cat) and context.json (the machine and the run). The targets are
Tessel's time over the other side's time, at most; each is checked on the ratio of the fastest
runs, and the ratio of the median runs is shown beside it for judging noise.
"""

import json
import sys
import textwrap
from dataclasses import dataclass
from pathlib import Path

MIB = 1024 * 1024
DISKETTE_CHUNK = 1457644
LARGE_CHUNK = 104857600
CHUNKS_WITH_TARGETS = (DISKETTE_CHUNK, LARGE_CHUNK)
RECOVERY_MEDIA = ("memory", "disk")
SHARED_EXTENTS_MEDIA = ("xfs", "btrfs")

FLOOR_TARGET = 1.2  # checked split and join in memory against the all-core floor
DISK_TARGET = 1.25  # against bare split or cat + sync on the disk
SHARED_EXTENTS_SPLIT_TARGET = 1.00  # the split against bare split + sync on XFS and btrfs
SHARED_EXTENTS_JOIN_TARGET = 0.3  # the join at LARGE_CHUNK against the GNU way there
GNU_WAY_TARGETS = {"memory": 0.25, "disk": 0.5, "xfs": 0.5, "btrfs": 0.5}
UNCHECKED_JOIN_TARGET = 1.00  # a join without a checksum file against cat, start-up included
RECOVERY_SPLIT_TARGETS = {1: 1.5, 4: 3.0}  # split with R recovery pieces against R = 0
REBUILD_JOIN_TARGET = 2.0  # a join that rebuilds one piece against one that rebuilds none
RSS_LIMIT_MIB = 16
RECOVERY_RSS_LIMIT_MIB = 64

SIZES = " and ".join(str(chunk) for chunk in CHUNKS_WITH_TARGETS)
NOT_MEASURED = "not measured: tessel_bench takes no recovery count"

SIDE_NAMES = {
    "tessel_split": "tessel split",
    "gnu_split": "split -b",
    "gnu_split_sha256sum": "split; sha256sum",
    "tessel_join": "tessel join",
    "tessel_join_unchecked": "tessel join, no .sha256",
    "gnu_cat": "cat",
    "gnu_sha256sum_cat": "sha256sum -c; cat",
    "tessel_split_r0": "tessel split R=0",
    "tessel_split_r1": "tessel split R=1",
    "tessel_split_r4": "tessel split R=4",
    "tessel_join_intact": "tessel join, 0 rebuilt",
    "tessel_join_rebuild": "tessel join, 1 rebuilt",
}


@dataclass
class Timing:
    fastest: float
    median: float
    slowest: float
    runs: int
    rss_kib: int | None


@dataclass
class Row:
    ours: str  # the label of Tessel's side
    theirs: str  # the label of the side it is compared with
    ours_key: str
    theirs_key: str | None  # None for the floor, which is computed
    target: float | None  # None: shown without a target
    rss_limit_mib: int = RSS_LIMIT_MIB


def load_timing(path: Path) -> Timing:
    result = json.loads(path.read_text())["results"][0]
    rss_path = path.with_suffix(".rss")
    rss = int(rss_path.read_text()) if rss_path.exists() else None
    return Timing(result["min"], result["median"], result["max"], len(result["times"]), rss)


def load_folder(folder: Path) -> dict[str, Timing]:
    return {path.stem: load_timing(path) for path in sorted(folder.glob("*.json"))}


def load_media(results: Path, media: list[str]) -> dict[tuple[str, int], dict[str, Timing]]:
    measured = {}
    for medium in media:
        chunks = sorted(int(path.name) for path in (results / medium).iterdir())
        for chunk in chunks:
            measured[(medium, chunk)] = load_folder(results / medium / str(chunk))
    return measured


def seconds_to_hash(hashing: dict[str, Timing]) -> tuple[float, float]:
    """One core's fastest and median time to hash the input: the faster tool counts."""
    best = min(hashing.values(), key=lambda timing: timing.fastest)
    return best.fastest, best.median


def rows_for(medium: str, chunk: int) -> list[Row]:
    disk = medium == "disk"
    shared = medium in SHARED_EXTENTS_MEDIA
    with_target = chunk in CHUNKS_WITH_TARGETS
    gnu_way = GNU_WAY_TARGETS[medium]
    split_bare = DISK_TARGET if disk else SHARED_EXTENTS_SPLIT_TARGET if shared else None
    join_gnu_way = SHARED_EXTENTS_JOIN_TARGET if shared and chunk == LARGE_CHUNK else gnu_way
    floor = FLOOR_TARGET if with_target else None
    rows = [Row("split", "split -b", "tessel_split", "gnu_split", split_bare)]
    if medium == "memory":
        rows.append(Row("split", "all-core floor", "tessel_split", None, floor))
    rows += [
        Row("split", "split; sha256sum", "tessel_split", "gnu_split_sha256sum", gnu_way),
        Row("join", "cat", "tessel_join", "gnu_cat", DISK_TARGET if disk else None),
    ]
    if medium == "memory":
        rows.append(Row("join", "all-core floor", "tessel_join", None, floor))
    rows += [
        Row("join", "sha256sum -c; cat", "tessel_join", "gnu_sha256sum_cat", join_gnu_way),
        Row("join, no .sha256", "cat", "tessel_join_unchecked", "gnu_cat",
            UNCHECKED_JOIN_TARGET),
    ]
    if medium in RECOVERY_MEDIA and with_target:
        rows += [
            Row(f"split R={count}", "split R=0", f"tessel_split_r{count}", "tessel_split_r0",
                target, RECOVERY_RSS_LIMIT_MIB)
            for count, target in RECOVERY_SPLIT_TARGETS.items()
        ]
        rows.append(Row("join, 1 rebuilt", "join, 0 rebuilt", "tessel_join_rebuild",
                        "tessel_join_intact", REBUILD_JOIN_TARGET, RECOVERY_RSS_LIMIT_MIB))
    return rows


class Report:
    def __init__(self, results: Path):
        self.context = json.loads((results / "context.json").read_text())
        self.hashing = load_folder(results / "hash")
        self.start = load_folder(results / "start")
        self.measured = load_media(results, self.context["media"])
        self.hash_fastest, self.hash_median = seconds_to_hash(self.hashing)
        self.verdicts = {"PASS": 0, "FAIL": 0, "not measured": 0}
        self.rss_checked: set[tuple[str, int, str]] = set()

    def floor(self, sides: dict[str, Timing], row: Row) -> tuple[float, float]:
        """(bare split or cat + one core's hashing) / cores, from the fastest and median runs."""
        bare = sides["gnu_split" if row.ours_key == "tessel_split" else "gnu_cat"]
        cores = self.context["cores"]
        return ((bare.fastest + self.hash_fastest) / cores,
                (bare.median + self.hash_median) / cores)

    def count(self, verdict: str) -> str:
        if verdict in self.verdicts:
            self.verdicts[verdict] += 1
        return verdict

    def rss_verdict(self, medium: str, chunk: int, row: Row, rss_kib: int) -> str:
        verdict = "PASS" if rss_kib < row.rss_limit_mib * 1024 else "FAIL"
        # Each of Tessel's sides counts once against its memory limit, however many rows show it.
        key = (medium, chunk, row.ours_key)
        if key not in self.rss_checked:
            self.rss_checked.add(key)
            self.count(verdict)
        return verdict

    def print_timings(self) -> None:
        runs = self.context["runs"]
        heading(f"Timings (seconds; hyperfine, 1 warm-up, then {runs} run{'s' * (runs != 1)})")
        print(f"{'medium':<7}{'chunk':>11}  {'side':<26}{'min':>8}{'median':>8}{'max':>8}")
        for (medium, chunk), sides in self.measured.items():
            for key in (key for key in SIDE_NAMES if key in sides):
                timing = sides[key]
                print(f"{medium:<7}{chunk:>11}  {SIDE_NAMES[key]:<26}{timing.fastest:8.3f}"
                      f"{timing.median:8.3f}{timing.slowest:8.3f}")

    def print_verdicts(self) -> None:
        heading("Results (ratio = Tessel's time / the other's; peak RSS in MiB)")
        print(f"{'medium':<7}{'chunk':>11}  {'tessel':<17}{'against':<18}{'tessel':>8}"
              f"{'other':>8}{'ratio':>7}{'target':>7}{'median':>7}  {'verdict':<8}"
              f"{'RSS':>6} {'limit':>5}  {'RSS'}")
        for (medium, chunk), sides in self.measured.items():
            for row in rows_for(medium, chunk):
                self.print_row(medium, chunk, sides, row)

    def print_row(self, medium: str, chunk: int, sides: dict[str, Timing], row: Row) -> None:
        lead = f"{medium:<7}{chunk:>11}  {row.ours:<17}{row.theirs:<18}"
        if row.ours_key not in sides and not self.context["recovery"]:
            print(f"{lead}{NOT_MEASURED}")
            self.count("not measured")
            return
        ours = sides[row.ours_key]
        if row.theirs_key is None:
            theirs_fastest, theirs_median = self.floor(sides, row)
        else:
            theirs_fastest, theirs_median = (sides[row.theirs_key].fastest,
                                             sides[row.theirs_key].median)
        ratio = ours.fastest / theirs_fastest
        target = "info" if row.target is None else f"<={row.target:.2f}"
        verdict = "info" if row.target is None else "PASS" if ratio <= row.target else "FAIL"
        rss = ours.rss_kib or 0
        print(f"{lead}{ours.fastest:8.3f}{theirs_fastest:8.3f}{ratio:7.2f}{target:>7}"
              f"{ours.median / theirs_median:7.2f}  {self.count(verdict):<8}{rss / 1024:6.1f}"
              f" {'<' + str(row.rss_limit_mib):>5}  {self.rss_verdict(medium, chunk, row, rss)}")

    def print_floor(self) -> None:
        if not any(medium == "memory" for medium, _ in self.measured):
            return
        heading("All-core floor in memory")
        size = self.context["data_bytes"]
        for name, label in (("sha256sum", "sha256sum"), ("openssl", "openssl dgst -sha256")):
            if name in self.hashing:
                timing = self.hashing[name]
                print(f"one core hashing the {size}-byte file with {label}: {timing.fastest:.3f} s"
                      f" ({size / timing.fastest / 1e6:.0f} MB/s)")
        print(f"floor = (bare split -b or cat + {self.hash_fastest:.3f} s of hashing)"
              f" / {self.context['cores']} cores: the 'all-core floor' rows")

    def print_start(self) -> None:
        tessel, cat = self.start["tessel_bench"], self.start["cat"]
        print(f"\nStarting a program (hyperfine without a shell, {tessel.runs} runs, min/median):"
              f" tessel_bench {tessel.fastest * 1000:.1f}/{tessel.median * 1000:.1f} ms,"
              f" cat {cat.fastest * 1000:.1f}/{cat.median * 1000:.1f} ms.")

    def print_sha_note(self) -> None:
        speeds = ", ".join(f"{label} {self.context['data_bytes'] / timing.fastest / 1e6:.0f} MB/s"
                           for label, timing in (("OpenSSL", self.hashing.get("openssl")),
                                                 ("coreutils sha256sum",
                                                  self.hashing.get("sha256sum")))
                           if timing)
        if self.context["sha_instructions"]:
            note = (f"This CPU has SHA instructions (sha_ni; one core hashes here at {speeds})."
                    " Without them SHA-256 runs several times slower: every checked split and"
                    " join is then bound by its hashing, so its ratios against bare split -b and"
                    " cat grow, while those against the GNU way, which hashes every byte too,"
                    " hold.")
        else:
            note = (f"This CPU has no SHA instructions (no sha_ni flag; one core hashes here at"
                    f" {speeds}): SHA-256 runs several times slower than with them, so the ratios"
                    " against bare split -b and cat are higher here than on a CPU that has them,"
                    " while those against the GNU way, which hashes every byte too, hold.")
        print()
        print(textwrap.fill(note, width=96))

    def print_summary(self) -> None:
        met, missed, unmeasured = (self.verdicts[v] for v in ("PASS", "FAIL", "not measured"))
        print(f"\nTargets: {met} met, {missed} missed"
              + (f", {unmeasured} not measured." if unmeasured else "."))


LEGEND = f"""
Each row times one of Tessel's operations against another way to the same end:
  split            / split -b           GNU split alone: the same pieces, no checksum file.
  split            / split; sha256sum   the GNU way of the same output: split -b, then
                                        sha256sum of the pieces into a checksum file.
  split            / all-core floor     in memory: (split -b + one core hashing the file)
                                        / cores, the least a checked split can take.
  join             / cat                cat of the pieces into one file, nothing checked.
  join             / sha256sum -c; cat  the GNU way of a checked join: sha256sum --quiet -c
                                        of the checksum file, then cat.
  join             / all-core floor     in memory: (cat + one core hashing the file) / cores.
  join, no .sha256 / cat                Tessel joining the same set after its checksum file
                                        was removed, so nothing is checked, against cat;
                                        both start a program, so start-up counts.
  split R=1, R=4   / split R=0          Tessel's split writing 1 or 4 recovery pieces against
                                        the same split writing none.
  join, 1 rebuilt  / join, 0 rebuilt    Tessel's join of a set with 1 recovery piece whose
                                        first piece was removed, against the whole set.
Media: memory = /dev/shm; disk = the file system under the build folder; xfs (reflink=1) and
btrfs = loop images on that disk. Off memory every GNU side ends with 'sync' of the files it
wrote; Tessel flushes for itself (the split each piece, then its checksum file once; the join
once at its end).
ratio = Tessel's fastest run / the other side's fastest run (the target is checked on it);
median = the same ratio of the median runs, for judging noise.
Targets (ratio at most; at every chunk size measured unless sizes are named):
  {FLOOR_TARGET:.2f}  split and join against the all-core floor, in memory, at {SIZES};
  {DISK_TARGET:.2f}  split and join against bare split -b and cat + sync, on the disk;
  {SHARED_EXTENTS_SPLIT_TARGET:.2f}  split against bare split -b + sync, on xfs and btrfs;
  {GNU_WAY_TARGETS['memory']:.2f}  split and join against the GNU way, in memory;
  {GNU_WAY_TARGETS['disk']:.2f}  split and join against the GNU way, on the disk, xfs and btrfs;
  {SHARED_EXTENTS_JOIN_TARGET:.2f}  join against the GNU way, on xfs and btrfs at {LARGE_CHUNK};
  {UNCHECKED_JOIN_TARGET:.2f}  the join without a checksum file against cat, on every medium;
With recovery pieces, in memory and on the disk, at {SIZES}:
  {RECOVERY_SPLIT_TARGETS[1]:.2f}  split with 1 recovery piece against the same split with none;
  {RECOVERY_SPLIT_TARGETS[4]:.2f}  split with 4 recovery pieces against the same split with none;
  {REBUILD_JOIN_TARGET:.2f}  join that rebuilds one piece against one that rebuilds none.
Peak RSS: under {RSS_LIMIT_MIB} MiB, and under {RECOVERY_RSS_LIMIT_MIB} MiB with recovery pieces.
info = no target: in memory a checked copy is bound by hashing (its target is the floor), and
on xfs and btrfs cat shares the pieces' extents and reads no byte, while a checked join reads
and hashes every one, so there the join's targets are the GNU way and, without a checksum
file, cat itself. At other chunk sizes the floor is shown without a target."""


def heading(text: str) -> None:
    print(f"\n==== {text} ====")


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: bench_report.py RESULTS_FOLDER", file=sys.stderr)
        return 2
    report = Report(Path(sys.argv[1]))
    report.print_timings()
    report.print_verdicts()
    print(LEGEND)
    report.print_floor()
    report.print_start()
    report.print_sha_note()
    report.print_summary()
    return 0


if __name__ == "__main__":
    sys.exit(main())
