#!/bin/sh
# Runs a command inside the headless Wayland session of the slot CTest gave
# this test (CTEST_RESOURCE_GROUP_0_WAYLAND="id:K,slots:1"), slot 0 without one:
#   in-wayland-slot.sh DIR COMMAND...
dir=${1:?state folder}
shift
slot=0
case ${CTEST_RESOURCE_GROUP_0_WAYLAND:-} in
id:*) slot=${CTEST_RESOURCE_GROUP_0_WAYLAND#id:} && slot=${slot%%,*} ;;
esac
exec "$dir/slot-$slot/in-session" "$@"
