#!/usr/bin/env bash
# What Stop costs: Velmora records SECONDS (90) of a moving full-screen
# picture on a private Xvfb, H.264 + AAC (48 kHz stereo, the test sound
# server's 440 Hz microphone) into MP4, and is stopped with F10 as a user
# does; ffmpeg records the same display and microphone into fragmented MP4
# (libx264 ultrafast + AAC) and is stopped with 'q'. For each, run by run
# interleaved, it prints the time from the stop to a complete file under its
# final name (polled every 20 ms: no .part beside it, ffprobe reads it), the
# recording folder's peak size (sampled every 100 ms over the recording and
# the save) over the final file's size, the file's size, and the lengths of
# its picture and sound.
#   bench/stop-vs-ffmpeg.sh [-t SECONDS] [-n RUNS] [-s WxH:FPS] [BUILD-DIR]
# build-bench is configured and built here in Release; a BUILD-DIR given
# that holds a velmora already (another tree's) is measured as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=90
runs=1
size=1280x720
fps=30
while getopts "t:n:s:" opt; do
    case $opt in
    t) seconds=$OPTARG ;;
    n) runs=$OPTARG ;;
    s) [[ $OPTARG == *x*:* ]] || { echo "size: WxH:FPS" >&2; exit 2; }
       size=${OPTARG%:*} fps=${OPTARG#*:} ;;
    *) sed -n 12p "$0" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
dir=${1:-build-bench}
if [[ $# == 0 || ! -x $dir/velmora ]]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF >/dev/null
    cmake --build "$dir" --target velmora velmora_language >/dev/null
fi

work=$(mktemp -d)
state=$work/env
program=$work/program
pid="" sampler="" ffin="" file="" ready=""
shopt -s nullglob
cleanup() {
    [[ -z $sampler ]] || kill "$sampler" 2>/dev/null || true
    [[ -z $pid ]] || { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; } || true
    tests/env/testenv.sh stop audio "$state" >/dev/null 2>&1 || true
    tests/env/testenv.sh stop demo "$state" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
VELMORA_DEMO_SIZE=${size}x24 VELMORA_DEMO_PICTURE=full \
    tests/env/testenv.sh start demo "$state" >/dev/null
tests/env/testenv.sh start audio "$state" >/dev/null
set -a && source "$state/demo.env" && source "$state/audio.env" && set +a

mkdir -p "$program"
cp "$dir/velmora" "$program/"
cp -r "$dir/Language" "$program/"
input=$(pactl list short sources | awk '$2 == "fakemic" { print NR - 1 }')
# The web preset's choices (MP4, H.264 with a key frame every 2 s, AAC at
# 48 kHz stereo) at the asked frame rate, x264 at ultrafast as ffmpeg's.
cat >"$program/Setup.ini" <<INI
[SetupVideo]
TypeCapture=1
OutputFormat=MP4
CodecIndex=3
VideoFPS=$fps
KeyFramesFreq=$((2 * fps))
VideoQuality=70
X264Preset=ultrafast
[SetupApp]
MinimizeCapture=0
RestoreAfterRecord=0
SendStats=0
TrayIcon=0
NotifySaved=0
Countdown=0
[SetupAudio]
AudioRecordEnable=1
AudioCodec=AAC
AudioFormatIndex=19
AudioInputIndex=$input
INI

# Bytes the folder holds, every 100 ms, as "TIME BYTES" lines in $2.
sample() {  # sample FOLDER FILE
    while :; do
        echo "$EPOCHREALTIME $(find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')"
        sleep 0.1
    done >"$2"
}
stop_sampling() { kill "$sampler" 2>/dev/null || true; wait "$sampler" 2>/dev/null || true; sampler=; }

# Waits (20 ms steps) for the first file in FOLDER; prints when it came.
wait_started() {  # wait_started FOLDER LIMIT-SECONDS
    local deadline=$((SECONDS + $2)) files
    while files=("$1"/*); ((${#files[@]} == 0)); do
        ((SECONDS < deadline)) || return 1
        sleep 0.02
    done
    echo "$EPOCHREALTIME"
}

# Waits (20 ms steps) until FOLDER holds a complete *.EXT: no .part beside
# it and ffprobe reads its length. Sets $file, and $ready to when it was seen.
wait_complete() {  # wait_complete FOLDER EXT LIMIT-SECONDS
    local deadline=$((SECONDS + $3)) files parts
    while :; do
        files=("$1"/*."$2") parts=("$1"/*.part)
        if ((${#files[@]} == 1 && ${#parts[@]} == 0)); then
            ready=$EPOCHREALTIME file=${files[0]}
            [[ -n $(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file" 2>/dev/null) ]] &&
                return 0
        fi
        ((SECONDS < deadline)) || return 1
        sleep 0.02
    done
}

# "TOOL RECORDED STOP-TO-FILE PEAK/FILE MIB VIDEO-S AUDIO-S" for results.
row() {  # row TOOL START STOP DONE FILE SAMPLES
    local bytes peak video audio
    bytes=$(stat -c %s "$5")
    peak=$(awk -v f="$bytes" '$2 > p { p = $2 } END { print (p > f ? p : f) }' "$6")
    video=$(ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 "$5")
    audio=$(ffprobe -v error -select_streams a:0 -show_entries stream=duration -of csv=p=0 "$5")
    awk -v t="$1" -v a="$2" -v s="$3" -v d="$4" -v b="$bytes" -v p="$peak" \
        -v v="${video:-0}" -v au="${audio:-0}" 'BEGIN {
            printf "%s %.2f %.3f %.2f %.1f %.2f %.2f\n", t, s - a, d - s, p / b, b / 1048576, v, au }'
}

record_velmora() {  # record_velmora OUT
    local out=$1 start stop
    rm -rf "$program/Logs"
    sample "$out" "$work/samples" &
    sampler=$!
    (cd "$program" && exec ./velmora -vc format=mp4 "path=$out/") >/dev/null 2>&1 &
    pid=$!
    start=$(wait_started "$out" 60) || { echo "velmora did not start recording" >&2; return 1; }
    sleep "$(awk -v a="$start" -v n="$seconds" -v now="$EPOCHREALTIME" 'BEGIN { print a + n - now }')"
    stop=$EPOCHREALTIME
    xdotool key F10
    wait_complete "$out" mp4 $((seconds + 300)) ||
        { echo "velmora: no complete file" >&2; ls -la "$out" >&2; return 1; }
    sleep 0.3  # what the save leaves behind still counts
    stop_sampling
    row velmora "$start" "$stop" "$ready" "$file" "$work/samples" >>"$work/results"
    wmctrl -c Velmora || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
}

record_ffmpeg() {  # record_ffmpeg OUT
    local out=$1 start stop
    ffin=$work/ffmpeg.in
    rm -f "$ffin" && mkfifo "$ffin"
    sample "$out" "$work/samples" &
    sampler=$!
    ffmpeg -hide_banner -nostats -loglevel error -y \
        -thread_queue_size 512 -f x11grab -framerate "$fps" -video_size "$size" -i "$DISPLAY" \
        -thread_queue_size 512 -f pulse -i fakemic \
        -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g $((2 * fps)) \
        -c:a aac -ar 48000 -ac 2 \
        -movflags +delay_moov+default_base_moof+frag_keyframe -frag_duration 1000000 \
        "$out/ffmpeg.mp4" <"$ffin" >/dev/null 2>"$work/ffmpeg.err" &
    pid=$!
    exec 3>"$ffin"
    start=$(wait_started "$out" 60) || { echo "ffmpeg did not start" >&2; cat "$work/ffmpeg.err" >&2; return 1; }
    sleep "$(awk -v a="$start" -v n="$seconds" -v now="$EPOCHREALTIME" 'BEGIN { print a + n - now }')"
    stop=$EPOCHREALTIME
    printf q >&3
    exec 3>&-
    # The file is whole once ffmpeg has gone.
    while kill -0 "$pid" 2>/dev/null; do sleep 0.02; done
    wait "$pid" || { echo "ffmpeg failed: $(cat "$work/ffmpeg.err")" >&2; return 1; }
    pid=
    wait_complete "$out" mp4 60 || { echo "ffmpeg: no complete file" >&2; return 1; }
    sleep 0.3
    stop_sampling
    row ffmpeg "$start" "$stop" "$ready" "$file" "$work/samples" >>"$work/results"
}

echo "$size at $fps fps, $seconds s, $runs run(s), $(nproc) cores," \
    "load $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for run in $(seq "$runs"); do
    for tool in velmora ffmpeg; do
        out=$work/out-$tool-$run
        mkdir -p "$out"
        "record_$tool" "$out"
        rm -rf "$out"
    done
done
echo "load at the end $(cut -d' ' -f1-3 /proc/loadavg)" >&2

printf "%-8s %9s %13s %10s %9s %8s %8s\n" tool recorded-s stop-to-file-s peak/file file-MiB video-s audio-s
awk '{ printf "%-8s %9.2f %13.3f %10.2f %9.1f %8.2f %8.2f\n", $1, $2, $3, $4, $5, $6, $7 }' \
    "$work/results"
