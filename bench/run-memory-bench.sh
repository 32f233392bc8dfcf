#!/usr/bin/env bash
# Memory over a long recording: bench_record records a private 1920x1080x24
# Xvfb with a moving picture at 30 fps with Xvid, and the program's peak
# resident memory (VmHWM) and its resident memory now (VmRSS) are read at
# 1, 10 and 30 minutes (or at the minutes given).
#   bench/run-memory-bench.sh [BUILD-DIR] [MINUTES...]   (default: build-bench 1 10 30)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-bench}
shift || true
marks=("$@")
[[ ${#marks[@]} -gt 0 ]] || marks=(1 10 30)
last=${marks[-1]}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF >/dev/null
cmake --build "$dir" --target bench_record >/dev/null
state=$(mktemp -d)
mkdir -p "$state/out"
VELMORA_DEMO_SIZE=1920x1080x24 tests/env/testenv.sh start demo "$state" >/dev/null
recorder=
cleanup() {
    [[ -n $recorder ]] && kill "$recorder" 2>/dev/null
    tests/env/testenv.sh stop demo "$state"
    rm -rf "$state"
}
trap cleanup EXIT
set -a && source "$state/demo.env" && set +a

"$dir/bench_record" XVID $((last * 60 + 5)) 30 "$state/out" >"$state/result" 2>"$state/errors" &
recorder=$!
begin=$(date +%s)
kib() { awk -v k="$1" '$1 == k ":" { print $2 }' "/proc/$recorder/status"; }
for minute in "${marks[@]}"; do
    while (($(date +%s) - begin < minute * 60)); do sleep 1; done
    printf 'minute %3d: peak resident %7.1f MiB, resident now %7.1f MiB\n' "$minute" \
        "$(kib VmHWM | awk '{ print $1 / 1024 }')" "$(kib VmRSS | awk '{ print $1 / 1024 }')"
done
wait "$recorder" || { cat "$state/errors" >&2; exit 1; }
recorder=
cat "$state/result"
