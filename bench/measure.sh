# Sourced by the recording benchmarks; $state is the caller's scratch folder.

# Configures DIR as a Release tree without the tests and builds the targets.
release_build() {  # release_build DIR TARGET...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF >/dev/null
    cmake --build "$dir" --target "$@" >/dev/null
}

# "CPU-SECONDS PEAK-MIB" of a command (user + system; the peak resident set);
# its output goes to $state/last.
cpu_of() {
    /usr/bin/time -f '%U %S %M' -o "$state/time" "$@" >"$state/last" 2>"$state/last.err"
    awk 'END { printf "%.2f %.0f\n", $1 + $2, $3 / 1024 }' "$state/time"
}

# Frames a file really holds: its non-empty video packets.
real_frames() {
    ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" |
        awk '$1 > 0' | wc -l
}
