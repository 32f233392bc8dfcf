#!/usr/bin/env bash
# Sizes and merge times of each file format for one recording: Velmora
# records SECONDS (60) of a moving 1280x720 desktop with the test sound
# server's 440 Hz microphone into AVI with PCM, then bench_formats merges
# its picture and sound again into AVI + PCM, MP4 + AAC, Matroska + Opus and
# Matroska + FLAC, with ffmpeg's time for the same conversion beside each.
#   bench/formats-bench.sh [-t SECONDS] [-c CODEC-INDEX] [BUILD-DIR]
# CODEC-INDEX is the compressor list's position (3: x264, 1: Xvid).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=60
codec=3
while getopts "t:c:" opt; do
    case $opt in
    t) seconds=$OPTARG ;;
    c) codec=$OPTARG ;;
    *) sed -n 8p "$0" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
dir=${1:-build-bench}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF >/dev/null
cmake --build "$dir" --target velmora velmora_language bench_formats >/dev/null

work=$(mktemp -d)
state=$work/env
cleanup() {
    tests/env/testenv.sh stop audio "$state" >/dev/null 2>&1 || true
    tests/env/testenv.sh stop demo "$state" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
VELMORA_DEMO_PICTURE=full tests/env/testenv.sh start demo "$state" >/dev/null
tests/env/testenv.sh start audio "$state" >/dev/null
set -a && source "$state/demo.env" && source "$state/audio.env" && set +a

program=$work/program out=$work/out
mkdir -p "$program" "$out"
cp "$dir/velmora" "$program/"
cp -r "$dir/Language" "$program/"
input=$(pactl list short sources | awk '$2 == "fakemic" { print NR - 1 }')
cat >"$program/Setup.ini" <<INI
[SetupVideo]
CodecIndex=$codec
VideoFPS=30
TypeCapture=1
[SetupApp]
MinimizeCapture=0
SendStats=0
[SetupAudio]
AudioRecordEnable=1
AudioFormatIndex=15
AudioInputIndex=$input
INI
echo "Recording $seconds s of 1280x720 at 30 fps with sound..."
"$program/velmora" -vc "time=$seconds" "path=$out/" >/dev/null 2>&1 &
pid=$!
recording=
for _ in $(seq $((seconds * 10 + 600))); do
    recording=$(ls "$out"/VideoRecord_*.avi 2>/dev/null || true)
    [[ -n $recording ]] && break
    sleep 0.1
done
wmctrl -c "Velmora 1.0.4" || true
wait "$pid" || true
[[ -n $recording ]] || { echo "no recording was saved" >&2; exit 1; }
ffprobe -v error -show_entries stream=codec_name,width,height:format=duration,size \
    -of compact=p=0 "$recording" | sed 's/^/    /'
"$dir/bench_formats" "$recording" "$work"
