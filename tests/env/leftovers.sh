#!/bin/sh
# Fails when something the tests started still runs:
#   leftovers.sh programs BUILD_DIR  a copy of the program (the build tree's,
#       a test's link to it or a test's installed copy): a test must end
#       whatever it starts, however it ends
#   leftovers.sh servers BUILD_DIR   a server of tests/env (X, sound, the
#       Wayland sessions with their portals and buses) after their stop
mode=${1:?programs or servers}
build=$(readlink -f "${2:?build folder}")
program=$build/velmora
found=0
for p in /proc/[0-9]*; do
    pid=${p#/proc/}
    [ "$pid" = $$ ] && continue
    # Zombies have ended; their parent just has not reaped them yet.
    grep -q '^State:.*Z' "$p/status" 2>/dev/null && continue
    if [ "$mode" = servers ]; then
        tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -q "^VELMORA_TEST_SERVER=$build/" || continue
    else
        exe=$(readlink "$p/exe" 2>/dev/null) || continue
        exe=${exe% (deleted)}
        case $exe in
        "$program" | "$build"/*/velmora | /tmp/velmora-*/velmora) ;;
        *) continue ;;
        esac
    fi
    echo "still running: pid $pid: $(tr '\0' ' ' <"$p/cmdline")" >&2
    found=1
done
exit $found
