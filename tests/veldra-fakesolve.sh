#!/bin/sh
# Stand-in for the outside plate solver, for tests and demos.  Called like the solver:
#   veldra-fakesolve.sh RA,DEC,WIDTH,HEIGHT,999,IMAGE
# It records its arguments in IMAGE_BASE.fakesolve-args and its process id in
# IMAGE_BASE.fakesolve-pid (IMAGE_BASE = the image path without its extension), then
# follows IMAGE_BASE.fakesolve when that file exists:
#   line 1: seconds to wait before answering (fractions allowed), default 0
#   line 2: what to write into IMAGE_BASE.apm:
#           never    - write nothing, keep running (at most 10 minutes)
#           none     - write nothing and end
#           empty    - an empty file
#           unsolved - "RA,DEC,0" with the start position
#           anything else is written as it stands
#   line 3: seconds to keep running after answering, as a solver that keeps its window
#           open does (default 0: end at once)
# Without that file it answers at once with the start position as solved: "RA,DEC,1".
# Waits that outlast the answer replace this process (exec), so ending its process id
# ends all of it.

args="$*"
ra=${args%%,*}
rest=${args#*,}
dec=${rest%%,*}
image=${args#*,*,*,*,*,}
name=${image##*[/\\]}
case "$name" in
*.*) base=${image%.*} ;;
*) base=$image ;;
esac

printf '%s\n' "$@" >"$base.fakesolve-args" # one line per argument
printf '%s\n' "$$" >"$base.fakesolve-pid"

delay=0
linger=0
answer="$ra,$dec,1"
if [ -f "$base.fakesolve" ]; then
    {
        read -r line1 || line1=
        read -r line2 || line2=
        read -r line3 || line3=
    } <"$base.fakesolve"
    [ -n "$line1" ] && delay=$line1
    [ -n "$line3" ] && linger=$line3
    case "$line2" in
    "") ;;
    unsolved) answer="$ra,$dec,0" ;;
    *) answer=$line2 ;;
    esac
fi

sleep "$delay"
case "$answer" in
never)
    exec sleep 600
    ;;
none) ;;
empty)
    : >"$base.apm"
    ;;
*)
    # Whole or not at all: a poll never sees half a result.
    printf '%s\r\n' "$answer" >"$base.apm.part"
    mv -f "$base.apm.part" "$base.apm"
    ;;
esac
[ "$linger" = 0 ] || exec sleep "$linger"
