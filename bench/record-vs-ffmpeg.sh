#!/usr/bin/env bash
# Records the same moving full-screen picture on a private 1920x1080x24 Xvfb
# with Velmora's engine (bench_record) and with ffmpeg's x11grab, codec by
# codec and run by run alternating, and prints CPU seconds per recorded
# second, frames written and dropped, and file size for both.
#   bench/record-vs-ffmpeg.sh [BUILD-DIR] [SECONDS] [FPS] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-bench}
seconds=${2:-10}
fps=${3:-30}
runs=${4:-2}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF >/dev/null
cmake --build "$dir" --target bench_record >/dev/null
state=$(mktemp -d)
out=$state/out
mkdir -p "$out"
VELMORA_DEMO_SIZE=1920x1080x24 VELMORA_DEMO_PICTURE=full tests/env/testenv.sh start demo "$state" >/dev/null
trap 'tests/env/testenv.sh stop demo "$state"; rm -rf "$state"' EXIT
set -a && source "$state/demo.env" && set +a

# The engine's defaults: key frame every 8, quality 9000 (quantiser 4, x264 crf 5).
declare -A ffargs=(
    [MSVC]="-c:v msvideo1 -g 8"
    [XVID]="-c:v libxvid -q:v 4 -g 8 -tag:v XVID"
    [MJPG]="-c:v mjpeg -q:v 4 -pix_fmt yuvj420p"
    [H264]="-c:v libx264 -preset ultrafast -tune zerolatency -crf 5 -g 8"
)
codecs=(MSVC XVID MJPG H264)

# CPU seconds (user + system) of a command; its output goes to $state/last.
cpu_of() {
    local TIMEFORMAT='%U %S'
    { time "$@" >"$state/last" 2>"$state/last.err"; } 2>"$state/time"
    awk '{ print $1 + $2 }' "$state/time"
}
real_frames() {
    ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" |
        awk '$1 > 0' | wc -l
}

printf '%-5s %-8s %9s %7s %8s %10s\n' codec tool cpu/sec frames dropped MB
for codec in "${codecs[@]}"; do
    for run in $(seq "$runs"); do
        cpu=$(cpu_of "$dir/bench_record" "$codec" "$seconds" "$fps" "$out")
        file=$(sed -n 's/.*file=\([^ ]*\).*/\1/p' "$state/last")
        frames=$(real_frames "$file")
        dropped=$(sed -n 's/.*dropped=\([0-9]*\).*/\1/p' "$state/last")
        bytes=$(stat -c %s "$file")
        echo "$codec velmora $cpu $frames $dropped $bytes" >>"$state/results"
        rm -f "$file"

        file=$out/ffmpeg-$codec.avi
        # shellcheck disable=SC2086
        cpu=$(cpu_of ffmpeg -hide_banner -nostats -loglevel error -y -f x11grab -framerate "$fps" \
            -video_size 1920x1080 -i "$DISPLAY" -t "$seconds" -fps_mode passthrough \
            ${ffargs[$codec]} "$file")
        frames=$(real_frames "$file")
        echo "$codec ffmpeg $cpu $frames $((seconds * fps - frames)) $(stat -c %s "$file")" \
            >>"$state/results"
        rm -f "$file"
    done
done

awk -v secs="$seconds" '
    { key = $1 " " $2; cpu[key] += $3; frames[key] += $4; dropped[key] += $5; bytes[key] += $6; n[key]++
      if (!($1 in seen)) { seen[$1] = 1; order[++count] = $1 } }
    END {
        for (i = 1; i <= count; i++) {
            c = order[i]
            for (t = 0; t < 2; t++) {
                tool = t ? "ffmpeg" : "velmora"; k = c " " tool
                printf "%-5s %-8s %9.3f %7.1f %8.1f %10.1f\n", c, tool, cpu[k] / n[k] / secs,
                       frames[k] / n[k], dropped[k] / n[k], bytes[k] / n[k] / 1048576
            }
            printf "%-5s velmora/ffmpeg CPU ratio: %.2f\n", c, cpu[c " velmora"] / cpu[c " ffmpeg"]
        }
    }' "$state/results"
