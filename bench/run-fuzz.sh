#!/usr/bin/env bash
# Long fuzzing runs: each target of tests/fuzz in turn, one job, for SECONDS
# each (an hour by default, one process at a time), starting from its seeds and from what earlier
# runs found. What they find stays in OUT/<target>/: corpus/ (new inputs),
# crashes/ (failing inputs, to be moved into tests/fuzz/regressions/<target>/
# once fixed) and log (executions, coverage and the final figures).
#   bench/run-fuzz.sh [SECONDS] [TARGET...]
# Environment: FUZZ_BUILD (the clang tree, build-fuzz), FUZZ_OUT (fuzz-runs).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-3600}
shift || true
dir=${FUZZ_BUILD:-build-fuzz}
out=${FUZZ_OUT:-fuzz-runs}
CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DVELMORA_FUZZ=ON -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF >/dev/null
cmake --build "$dir" --target fuzz
targets=("$@")
((${#targets[@]})) || targets=(profile settings command_line language wave avi)
for target in "${targets[@]}"; do
    mkdir -p "$out/$target/corpus" "$out/$target/crashes"
    echo "== $target: $seconds s"
    inputs=("$out/$target/corpus" "tests/fuzz/corpus/$target")
    [[ -d tests/fuzz/regressions/$target ]] && inputs+=("tests/fuzz/regressions/$target")
    # Every crash is kept and fuzzing goes on after it.
    "$dir/fuzz_$target" -max_total_time="$seconds" -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 -fork=1 -ignore_crashes=1 -ignore_timeouts=1 \
        -ignore_ooms=1 -artifact_prefix="$out/$target/crashes/" "${inputs[@]}" \
        >"$out/$target/log" 2>&1 || true
    grep -E "^#[0-9]+.*(DONE|cov:)" "$out/$target/log" | tail -n1 || true
    grep -E "^stat::" "$out/$target/log" || true
    echo "crash files: $(find "$out/$target/crashes" -type f | wc -l)"
done
