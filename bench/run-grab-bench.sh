#!/usr/bin/env bash
# Grab speed on a private 1920x1080x24 Xvfb showing a moving picture: our
# grabs (bench_grab) against ffmpeg's x11grab on the same server, both
# grabbing as fast as they can. VELMORA_DEMO_PICTURE=full makes the picture
# cover the screen (then the player's own load competes for the cores).
#   bench/run-grab-bench.sh [BUILD-DIR]   (a Release build: build-bench by default)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-bench}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF >/dev/null
cmake --build "$dir" --target bench_grab
state=$dir/bench-desktop
VELMORA_DEMO_SIZE=1920x1080x24 tests/env/testenv.sh start demo "$state" >/dev/null
trap "tests/env/testenv.sh stop demo '$state'" EXIT
set -a && source "$state/demo.env" && set +a

"$dir/bench_grab" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true

for size in 1920x1080 640x480; do
    start=$(date +%s.%N)
    ffmpeg -hide_banner -nostats -loglevel error -f x11grab -framerate 100000 -video_size "$size" \
        -i "$DISPLAY" -frames:v 2000 -f null -
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" -v size="$size" \
        'BEGIN { t = e - s; printf "ffmpeg x11grab %s: 2000 grabs in %.2f s = %.3f ms a grab (start-up included)\n", size, t, t * 1000 / 2000 }'
done
