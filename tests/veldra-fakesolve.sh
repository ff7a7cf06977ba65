#!/bin/sh
# Stand-in for the outside plate solver, for tests and demos.  Called like the solver:
#   veldra-fakesolve.sh RA,DEC,WIDTH,HEIGHT,999,IMAGE
# It records its argument line in IMAGE_BASE.fakesolve-args and its process id in
# IMAGE_BASE.fakesolve-pid (IMAGE_BASE = the image path without its extension), then
# follows IMAGE_BASE.fakesolve when that file exists:
#   line 1: seconds to wait before answering (fractions allowed), default 0
#   line 2: what to write into IMAGE_BASE.apm:
#           never    - write nothing, keep running (at most 10 minutes)
#           empty    - an empty file
#           unsolved - "RA,DEC,0" with the start position
#           anything else is written as it stands
# Without that file it answers at once with the start position as solved: "RA,DEC,1".
# Keep the "#!/bin/sh" line: the process must run under this script's own name, which
# is what the forced end looks for.

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

printf '%s\n' "$args" >"$base.fakesolve-args"
printf '%s\n' "$$" >"$base.fakesolve-pid"

delay=0
answer="$ra,$dec,1"
if [ -f "$base.fakesolve" ]; then
    {
        read -r line1 || line1=
        read -r line2 || line2=
    } <"$base.fakesolve"
    [ -n "$line1" ] && delay=$line1
    case "$line2" in
    "") ;;
    unsolved) answer="$ra,$dec,0" ;;
    *) answer=$line2 ;;
    esac
fi

sleep "$delay"
case "$answer" in
never)
    i=0
    while [ "$i" -lt 600 ]; do
        sleep 1
        i=$((i + 1))
    done
    ;;
empty)
    : >"$base.apm"
    ;;
*)
    # Whole or not at all: a poll never sees half a result.
    printf '%s\r\n' "$answer" >"$base.apm.part"
    mv -f "$base.apm.part" "$base.apm"
    ;;
esac
