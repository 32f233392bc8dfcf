#!/usr/bin/env bash
# Sound against picture over a long recording: bench_sync records the
# flash-and-beep scene on a private Xvfb and PulseAudio for MINUTES and
# prints the offset at the start, at the end and its trend, and the CPU time.
#   bench/run-sync-bench.sh MINUTES [corrected|uncorrected|two] [BUILD-DIR]   (build-bench by default)
# "two" records a second input beside the first into two tracks and prints
# each against the picture and the two against each other; compare its CPU
# time with a "corrected" run's.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:?minutes}
mode=${2:-corrected}
dir=${3:-build-bench}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=ON -DVELMORA_BENCH=ON >/dev/null
cmake --build "$dir" --target bench_sync
state=$(mktemp -d)
trap "tests/env/testenv.sh stop audio '$state'; tests/env/testenv.sh stop x11 '$state'; rm -rf '$state'" EXIT
tests/env/testenv.sh start x11 "$state" >/dev/null
tests/env/testenv.sh start audio "$state" >/dev/null
VELMORA_TEST_ENV=$state "$dir/bench_sync" "$minutes" "$state/recording" "$mode"
