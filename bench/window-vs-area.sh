#!/usr/bin/env bash
# Records a moving 1280x720 picture (ffplay's window on a private Xvfb of the
# same size) with Velmora's engine (bench_record) twice, run by run
# interleaved: as the area of the screen it covers, and as the one window
# through Composite. Prints frames written, dropped frames, CPU seconds
# (user + system) of the whole process and our grabs' lateness (p50/p95/max
# ms) for each, and the window's CPU against the area's.
#   bench/window-vs-area.sh [-c "XVID MJPG ..."] [-f FPS] [-t SECONDS] [-n RUNS] [BUILD-DIR]
# BUILD-DIR (build-bench) is configured and built here in Release.
set -euo pipefail
cd "$(dirname "$0")/.."
codecs=(XVID)
fps=30
seconds=10
runs=3
while getopts "c:f:t:n:" opt; do
    case $opt in
    c) read -r -a codecs <<<"$OPTARG" ;;
    f) fps=$OPTARG ;;
    t) seconds=$OPTARG ;;
    n) runs=$OPTARG ;;
    *) sed -n 8p "$0" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
dir=${1:-build-bench}
# release_build, cpu_of, real_frames
source bench/measure.sh
release_build "$dir" bench_record

state=$(mktemp -d)
out=$state/out
mkdir -p "$out"
trap 'tests/env/testenv.sh stop demo "$state/demo" >/dev/null 2>&1 || true; rm -rf "$state"' EXIT
VELMORA_DEMO_SIZE=1280x720x24 VELMORA_DEMO_PICTURE=full \
    tests/env/testenv.sh start demo "$state/demo" >/dev/null
DISPLAY=$(sed -n 's/^DISPLAY=//p' "$state/demo/demo.env")
export DISPLAY
window=$(xwininfo -name "moving picture" | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')
[[ -n $window ]] || { echo "the moving picture has no window" >&2; exit 1; }
echo "window $window, $fps fps, load $(cut -d' ' -f1-3 /proc/loadavg)" >&2


for codec in "${codecs[@]}"; do
    for _ in $(seq "$runs"); do
        for source in area window; do
            target=1280x720
            [[ $source == window ]] && target=window=$window
            if ! cpu=$(cpu_of "$dir/bench_record" "$codec" "$seconds" "$fps" "$out" "$target"); then
                echo "$source $codec: $(cat "$state/last.err")" >&2
                continue
            fi
            file=$(sed -n 's/.*file=\([^ ]*\).*/\1/p' "$state/last")
            dropped=$(sed -n 's/.*dropped=\([0-9]*\).*/\1/p' "$state/last")
            late=$(sed -n 's/.*late_ms p50=\([^ ]*\) p95=\([^ ]*\) max=\([^ ]*\).*/\1\/\2\/\3/p' \
                "$state/last")
            echo "$codec $source ${cpu%% *} $(real_frames "$file") $dropped $late" \
                >>"$state/results"
            rm -f "$file"
        done
    done
done
echo "load at the end $(cut -d' ' -f1-3 /proc/loadavg)" >&2

awk '
    { key = $1 " " $2; cpu[key] += $3; frames[key] += $4; dropped[key] += $5; n[key]++
      late[key] = $6; if (!($1 in seen)) { seen[$1] = 1; order[++count] = $1 } }
    END {
        printf "%-5s %-7s %7s %8s %7s  %s\n", "codec", "source", "frames", "dropped", "cpu-s",
               "late-ms p50/p95/max (last run)"
        for (i = 1; i <= count; i++) {
            c = order[i]
            for (s = 0; s < 2; s++) {
                k = c " " (s == 0 ? "area" : "window")
                if (!(k in n)) continue
                printf "%-5s %-7s %7.1f %8.1f %7.2f  %s\n", c, s == 0 ? "area" : "window",
                       frames[k] / n[k], dropped[k] / n[k], cpu[k] / n[k], late[k]
            }
            a = c " area"; w = c " window"
            if ((a in n) && (w in n) && cpu[a] > 0)
                printf "%-5s window/area CPU: %.2f\n", c, (cpu[w] / n[w]) / (cpu[a] / n[a])
        }
    }' "$state/results"
