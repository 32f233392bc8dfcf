#!/usr/bin/env bash
# What a paused recording costs: the program's CPU time over the same span
# idle, recording, and paused, on a private display with a moving picture
# and a private sound server (the recording takes the 440 Hz microphone).
#   bench/pause-cpu.sh [SECONDS] [BUILD-DIR]   (10 s and build-bench by default)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
dir=${2:-build-bench}
if [[ $dir == build-bench ]]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF \
        -DVELMORA_BENCH=ON >/dev/null
    cmake --build "$dir" --target velmora velmora_language
fi
state=$(mktemp -d)
program=$state/program
stop_all() {
    [[ -n ${pid:-} ]] && kill "$pid" 2>/dev/null
    tests/env/testenv.sh stop audio "$state"
    tests/env/testenv.sh stop demo "$state"
    rm -rf "$state"
}
trap stop_all EXIT
tests/env/testenv.sh start demo "$state" >/dev/null
tests/env/testenv.sh start audio "$state" >/dev/null
set -a
source "$state/demo.env"
source "$state/audio.env"
set +a

mkdir -p "$program/out"
cp "$dir/velmora" "$program/"
cp -r "$dir/Language" "$program/"
input=$(pactl list short sources | awk '$2 == "fakemic" { print NR - 1 }')
# The demo's moving picture, Xvid at 30 frames a second, with sound.
cat >"$program/Setup.ini" <<INI
[SetupVideo]
WorkDir=$program/out/
TypeCapture=0
CodecIndex=1
VideoFPS=30
RegionLeftPos=100
RegionTopPos=100
RegionWidthPos=640
RegionHeightPos=360
[SetupApp]
MinimizeCapture=0
RestoreAfterRecord=0
SendStats=0
[SetupAudio]
AudioRecordEnable=1
AudioFormatIndex=15
AudioInputIndex=$input
INI

ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
# CPU seconds of the program over the next $seconds.
measure() {
    local before after
    before=$(ticks)
    sleep "$seconds"
    after=$(ticks)
    awk -v t="$((after - before))" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f", t / hz }'
}
send() { (cd "$program" && ./velmora "$1"); }

(cd "$program" && exec ./velmora) &
pid=$!
for _ in $(seq 100); do wmctrl -l 2>/dev/null | grep -q "Velmora" && break; sleep 0.1; done
sleep 2
idle=$(measure)
send --start
sleep 2
recording=$(measure)
send --pause
sleep 1
paused=$(measure)
send --resume
sleep 1
send --stop
for _ in $(seq 300); do
    grep -qs "Video file saved" "$program"/Logs/*.log && break
    sleep 0.1
done
wmctrl -c "Velmora" || true
wait "$pid" || true
pid=
echo "CPU seconds in $seconds s ($dir): idle $idle, recording $recording, paused $paused"
awk -v p="$paused" -v i="$idle" 'BEGIN { printf "paused / idle: %.2f\n", p / (i > 0 ? i : 0.01) }'
ls -l "$program"/out/VideoRecord_* 2>/dev/null | awk '{ print "recording:", $5, "bytes" }'
