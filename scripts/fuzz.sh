#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer on the
# targets and the engine) and runs each one for a bounded time on a scratch copy of its committed
# seed corpus, so the committed corpus never grows here. Any crash, leak, sanitizer report or
# broken invariant fails the run; the input that caused it is kept in build-fuzz/artifacts/.
#
#   TESSEL_FUZZ_SECONDS  seconds per target (default 30)
#   TESSEL_FUZZ_TARGETS  space-separated target names to run (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${TESSEL_FUZZ_SECONDS:-30}
build=build-fuzz
artifacts=$build/artifacts
# libFuzzer's own limits: a single input may take this long before it counts as a hang, and
# the process may use this much memory.
per_input_timeout=25
rss_limit_mb=2048

cmake --preset fuzz  # builds in $build
cmake --build --preset fuzz -j "$(nproc)"

if [ -n "${TESSEL_FUZZ_TARGETS:-}" ]; then
    read -r -a targets <<<"$TESSEL_FUZZ_TARGETS"
else
    targets=()
    for source in fuzz/*_fuzzer.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

# Corpus copies and the targets' own scratch files, in memory where the system allows.
scratch=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/tmp"
mkdir -p "$artifacts"

failed=()
for target in "${targets[@]}"; do
    seeds=fuzz/corpus/$target
    if [ ! -d "$seeds" ]; then
        echo "fuzz: $target has no seed corpus in $seeds" >&2
        failed+=("$target")
        continue
    fi
    cp -r "$seeds" "$scratch/$target"
    printf '\n---- %s: %s s ----\n' "$target" "$seconds"
    started=$SECONDS
    if TMPDIR=$scratch/tmp ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz/$target" -max_total_time="$seconds" -timeout="$per_input_timeout" \
        -rss_limit_mb="$rss_limit_mb" -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "$scratch/$target" >"$scratch/$target.log" 2>&1; then
        grep -E '^stat::number_of_executed_units' "$scratch/$target.log" || true
        echo "$target: no fault in $((SECONDS - started)) s"
    else
        tail -n 40 "$scratch/$target.log"
        echo "$target: FAILED; the input that broke it is in $artifacts/" >&2
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz: failing targets: ${failed[*]}" >&2
    exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran ${seconds} s each without a fault"
