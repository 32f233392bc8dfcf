#!/usr/bin/env bash
# Records the same moving full-screen picture on a private Xvfb with
# Velmora's engine (bench_record) and with ffmpeg's x11grab, codec by codec,
# run by run interleaved, at 1920x1080 30 fps and at 1280x720 15 fps (or the
# high sizes and rates: 1920x1080 60 fps, 2560x1440 and 3840x2160 30 fps),
# and prints real frames written (non-empty packets), dropped frames, CPU
# seconds (user + system) of the whole process, its peak resident memory,
# our grabs' lateness (p50/p95/max ms) and file size for each, and the CPU
# ratios.
#   bench/record-vs-ffmpeg.sh [-b BEFORE-DIR] [-s 1080|720|both|high|WxH:FPS,...]
#                             [-c "XVID MJPG ..."] [-t SECONDS] [-n RUNS] [BUILD-DIR]
# BUILD-DIR (build-bench) is configured and built here in Release. With -b, a
# Release build tree of an older commit, its bench_record records too, right
# before ours each time: before and after on the same machine in one run.
set -euo pipefail
cd "$(dirname "$0")/.."
before=
sizes=both
codecs=(XVID MJPG H264 HFYU FFV1 ZMBV MSVC)
seconds=10
runs=1
while getopts "b:s:c:t:n:" opt; do
    case $opt in
    b) before=$OPTARG ;;
    s) sizes=$OPTARG ;;
    c) read -r -a codecs <<<"$OPTARG" ;;
    t) seconds=$OPTARG ;;
    n) runs=$OPTARG ;;
    *) sed -n 10,11p "$0" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
dir=${1:-build-bench}
# release_build, cpu_of, real_frames
source bench/measure.sh
release_build "$dir" bench_record
tools=(after ffmpeg)
if [[ -n $before ]]; then
    cmake --build "$before" --target bench_record >/dev/null
    tools=(before after ffmpeg)
fi
case $sizes in
both) sizes=(1920x1080:30 1280x720:15) ;;
1080) sizes=(1920x1080:30) ;;
720) sizes=(1280x720:15) ;;
high) sizes=(1920x1080:60 2560x1440:30 3840x2160:30) ;;
*x*:*) IFS=, read -r -a sizes <<<"$sizes" ;;
*) echo "size: 1080, 720, both, high or WxH:FPS,..." >&2; exit 2 ;;
esac

state=$(mktemp -d)
out=$state/out
mkdir -p "$out"
running=
stop_demo() {
    [[ -n $running ]] && tests/env/testenv.sh stop demo "$state/$running"
    running=
}
trap 'stop_demo; rm -rf "$state"' EXIT

# The engine's defaults: key frame every 8, quality 9000: quantiser 4, x264
# crf 5.1, ZMBV zlib level 5 with a 1-pixel motion search, MS Video 1 a key
# frame after 7 others. ffmpeg keeps its own thread defaults.
declare -A ffargs=(
    [MSVC]="-c:v msvideo1 -keyint_min 7"
    [XVID]="-c:v libxvid -q:v 4 -g 8 -tag:v XVID"
    [MJPG]="-c:v mjpeg -q:v 4 -pix_fmt yuvj420p"
    [H264]="-c:v libx264 -preset ultrafast -tune zerolatency -crf 5.1 -g 8"
    [HFYU]="-c:v huffyuv -pix_fmt rgb24"
    [FFV1]="-c:v ffv1 -level 3 -slicecrc 0 -g 8 -pix_fmt bgr0"
    [ZMBV]="-c:v zmbv -g 8 -keyint_min 8 -compression_level 5 -me_range 1"
)

# ffmpeg keeps the grabs' own times but drops a frame whose time repeats
# one (-fps_mode vfr): with passthrough its MJPEG encoder stops the run at
# the first repeated time ("Invalid pts").


for entry in "${sizes[@]}"; do
    size=${entry%:*} fps=${entry#*:}
    running=$size
    VELMORA_DEMO_SIZE=${size}x24 VELMORA_DEMO_PICTURE=full \
        tests/env/testenv.sh start demo "$state/$size" >/dev/null
    DISPLAY=$(sed -n 's/^DISPLAY=//p' "$state/$size/demo.env")
    export DISPLAY
    echo "$size at $fps fps, load $(cut -d' ' -f1-3 /proc/loadavg)" >&2
    for codec in "${codecs[@]}"; do
        for _ in $(seq "$runs"); do
            for tool in "${tools[@]}"; do
                if [[ $tool == ffmpeg ]]; then
                    file=$out/ffmpeg-$codec.avi
                    # shellcheck disable=SC2086
                    cpu=$(cpu_of ffmpeg -hide_banner -nostats -loglevel error -y -f x11grab \
                        -framerate "$fps" -video_size "$size" -i "$DISPLAY" -t "$seconds" \
                        -fps_mode vfr ${ffargs[$codec]} "$file")
                    frames=$(real_frames "$file")
                    dropped=$((seconds * fps - frames))
                    late="- - -"
                else
                    bin=$dir/bench_record
                    [[ $tool == before ]] && bin=$before/bench_record
                    if ! cpu=$(cpu_of "$bin" "$codec" "$seconds" "$fps" "$out"); then
                        echo "$tool $codec $size: $(cat "$state/last.err")" >&2
                        continue
                    fi
                    file=$(sed -n 's/.*file=\([^ ]*\).*/\1/p' "$state/last")
                    frames=$(real_frames "$file")
                    dropped=$(sed -n 's/.*dropped=\([0-9]*\).*/\1/p' "$state/last")
                    late=$(sed -n 's/.*late_ms p50=\([^ ]*\) p95=\([^ ]*\) max=\([^ ]*\).*/\1 \2 \3/p' \
                        "$state/last")
                fi
                echo "$size@$fps $codec $tool $cpu $frames $dropped $(stat -c %s "$file") $late" \
                    >>"$state/results"
                rm -f "$file"
            done
        done
    done
    stop_demo
done
echo "load at the end $(cut -d' ' -f1-3 /proc/loadavg)" >&2

awk -v secs="$seconds" '
    { key = $1 " " $2 " " $3; cpu[key] += $4; peak[key] = $5 > peak[key] ? $5 : peak[key]
      frames[key] += $6; dropped[key] += $7; bytes[key] += $8; n[key]++
      late[key] = $9 == "-" ? "-" : sprintf("%s/%s/%s", $9, $10, $11)
      row = $1 " " $2; if (!(row in seen)) { seen[row] = 1; order[++count] = row }
      tools[$3] = 1 }
    END {
        printf "%-15s %-5s %-7s %7s %8s %8s %9s %8s  %s\n", "size", "codec", "tool", "frames",
               "dropped", "cpu-s", "MB", "peak-MiB", "late-ms p50/p95/max"
        for (i = 1; i <= count; i++) {
            r = order[i]; split(r, p, " ")
            for (t = 0; t < 3; t++) {
                tool = t == 0 ? "before" : t == 1 ? "after" : "ffmpeg"; k = r " " tool
                if (!(k in n)) continue
                printf "%-15s %-5s %-7s %7.1f %8.1f %8.2f %9.1f %8d  %s\n", p[1], p[2], tool,
                       frames[k] / n[k], dropped[k] / n[k], cpu[k] / n[k],
                       bytes[k] / n[k] / 1048576, peak[k], late[k]
            }
            f = r " ffmpeg"
            if (!(f in n) || cpu[f] == 0) continue
            line = sprintf("%-15s %-5s CPU ratio to ffmpeg:", p[1], p[2])
            if ((r " before") in n) line = line sprintf(" before %.2f", (cpu[r " before"] / n[r " before"]) / (cpu[f] / n[f]))
            if ((r " after") in n) line = line sprintf(" after %.2f", (cpu[r " after"] / n[r " after"]) / (cpu[f] / n[f]))
            print line
        }
    }' "$state/results"
