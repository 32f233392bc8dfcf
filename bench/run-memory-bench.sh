#!/usr/bin/env bash
# Memory over a long recording: bench_record records a private Xvfb
# (1920x1080x24 unless -s) with a moving picture at 30 fps (-r) with Xvid
# (-c), and the program's peak resident memory (VmHWM) and its resident
# memory now (VmRSS) are read at 1, 10 and 30 minutes (or at the minutes
# given).
#   bench/run-memory-bench.sh [-s WxH] [-r FPS] [-c FOURCC] [BUILD-DIR] [MINUTES...]
#   (default: -s 1920x1080 -r 30 -c XVID build-bench 1 10 30)
set -euo pipefail
cd "$(dirname "$0")/.."
size=1920x1080
rate=30
codec=XVID
while getopts "s:r:c:" opt; do
    case $opt in
    s) size=$OPTARG ;;
    r) rate=$OPTARG ;;
    c) codec=$OPTARG ;;
    *) sed -n 7,8p "$0" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
dir=${1:-build-bench}
shift || true
marks=("$@")
[[ ${#marks[@]} -gt 0 ]] || marks=(1 10 30)
last=${marks[-1]}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF >/dev/null
cmake --build "$dir" --target bench_record >/dev/null
state=$(mktemp -d)
mkdir -p "$state/out"
VELMORA_DEMO_SIZE=${size}x24 VELMORA_DEMO_PICTURE=full tests/env/testenv.sh start demo "$state" >/dev/null
recorder=
cleanup() {
    [[ -n $recorder ]] && kill "$recorder" 2>/dev/null
    tests/env/testenv.sh stop demo "$state"
    rm -rf "$state"
}
trap cleanup EXIT
set -a && source "$state/demo.env" && set +a

"$dir/bench_record" "$codec" $((last * 60 + 5)) "$rate" "$state/out" >"$state/result" 2>"$state/errors" &
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
