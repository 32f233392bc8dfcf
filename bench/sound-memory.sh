#!/usr/bin/env bash
# Memory of the whole program over a long recording, with sound and without:
# the full 1280x720 screen of a moving picture, Xvid at 30 fps, and for the
# sound run the private sound server's microphone (stereo 16-bit 44.1 kHz).
# Each program given is run both ways, one after another; resident memory
# (VmRSS) is read every minute and its peak (VmHWM) at the end.
#   bench/sound-memory.sh [-m MINUTES] [PROGRAM...]   (default: 10, build/velmora)
# PROGRAM is a velmora executable; its Language folder is taken from beside
# it. With HEAPTRACK=1 the sound runs go under heaptrack (its files are kept
# in the current folder).
set -euo pipefail
minutes=10
while getopts m: o; do
    case $o in
    m) minutes=$OPTARG ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
cd "$(dirname "$0")/.."
root=$(pwd)
programs=("$@")
if [[ ${#programs[@]} -eq 0 ]]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF \
        -DVELMORA_BENCH=OFF >/dev/null
    cmake --build build >/dev/null
    programs=(build/velmora)
fi
state=$(mktemp -d)
VELMORA_DEMO_PICTURE=full tests/env/testenv.sh start demo "$state" >/dev/null
tests/env/testenv.sh start audio "$state" >/dev/null
running=
cleanup() {
    [[ -n $running ]] && kill "$running" 2>/dev/null
    tests/env/testenv.sh stop audio "$state"
    tests/env/testenv.sh stop demo "$state"
    rm -rf "$state"
}
trap cleanup EXIT
set -a && source "$state/demo.env" && source "$state/audio.env" && set +a
input=$(pactl list short sources | awk '$2 == "fakemic" { print NR - 1 }')

kib() { awk -v k="$1" '$1 == k ":" { print $2 }' "/proc/$2/status"; }

# record PROGRAM sound|silent: one line of figures.
record() {
    local program=$1 kind=$2 folder="$state/run-$RANDOM"
    mkdir -p "$folder/out"
    cp "$program" "$folder/velmora"
    cp -r "$(dirname "$program")/Language" "$folder/Language"
    {
        printf '[SetupVideo]\nTypeCapture=1\nCodecIndex=1\nVideoFPS=30\nWorkDir=%s/out/\n' "$folder"
        printf '[SetupApp]\nSendStats=0\n'
        [[ $kind == sound ]] &&
            printf '[SetupAudio]\nAudioRecordEnable=1\nAudioFormatIndex=15\nAudioInputIndex=%s\n' "$input"
    } >"$folder/Setup.ini"
    local wrap=()
    [[ $kind == sound && ${HEAPTRACK:-0} == 1 ]] && wrap=(heaptrack -o "$root/heaptrack.$kind.$$")
    (cd "$folder" && exec "${wrap[@]}" ./velmora -vc time=$((minutes * 60))) >/dev/null 2>&1 &
    running=$!
    local pid=$running
    # Under heaptrack the program is heaptrack's child.
    if [[ ${#wrap[@]} -gt 0 ]]; then
        for _ in $(seq 100); do
            pid=$(pgrep -f "^./velmora -vc" | head -1 || true)
            [[ -n $pid ]] && break
            sleep 0.1
        done
    fi
    local line begin
    line=$(printf '%-28s %-6s' "$(basename "$(dirname "$program")")/$(basename "$program")" "$kind")
    begin=$(date +%s)
    for minute in $(seq 1 "$minutes"); do
        while (($(date +%s) - begin < minute * 60)); do sleep 1; done
        line+=$(printf ' %6.1f' "$(kib VmRSS "$pid" | awk '{ print $1 / 1024 }')")
    done
    # The recording's merge ends it; the program stays open until asked.
    for _ in $(seq 600); do
        ls "$folder/out"/VideoRecord_*.avi >/dev/null 2>&1 &&
            ! ls "$folder/out"/*.part >/dev/null 2>&1 && break
        sleep 1
    done
    line+=$(printf '   peak %6.1f' "$(kib VmHWM "$pid" | awk '{ print $1 / 1024 }')")
    kill "$pid"
    wait "$running" 2>/dev/null || true
    running=
    echo "$line"
}

printf '%-28s %-6s %s\n' program kind "resident MiB at each minute, then the peak"
for program in "${programs[@]}"; do
    record "$program" silent
    record "$program" sound
done
