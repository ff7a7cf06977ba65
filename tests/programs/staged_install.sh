#!/usr/bin/env bash
# `cmake --install` into a staging folder, then the staged programs as an installed
# program is run: libhdrlib found through the prefix, the desktop files valid, and
# veldra, whose folder it cannot write, keeping its files in the XDG folders or in the
# folder --config-dir names.
#   staged_install.sh BUILD_DIR SOURCE_DIR     (inside a session bus of its own)
set -uo pipefail
build=$1
source "$2/tests/programs/lib.sh"
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
stage=$work/stage

cmake --install "$build" --prefix "$stage" >"$work/install.log" 2>&1 ||
    { fail "cmake --install: $(tail -3 "$work/install.log")"; finish; }

app=org.veldra.Veldra
for file in bin/veldra bin/fitstag bin/veldsim bin/veldra-solve include/hdrlib.h \
    share/applications/$app.desktop share/metainfo/$app.metainfo.xml \
    share/icons/hicolor/scalable/apps/$app.svg share/icons/hicolor/16x16/apps/$app.png \
    share/icons/hicolor/256x256/apps/$app.png share/man/man1/veldra.1.gz \
    share/man/man1/fitstag.1.gz share/man/man1/veldsim.1.gz share/doc/veldra/copyright \
    share/doc/veldra/user-guide.md share/doc/veldra/main-window.png; do
    [[ -e $stage/$file ]] || fail "not installed: $file"
done
[[ ! -e $build/bin/veldra-solve || -e $stage/bin/veldra-solve ]] || fail "veldra-solve not installed"
library=$(ls "$stage"/lib*/libhdrlib.so.* 2>/dev/null | head -n 1)
[[ -n $library ]] || fail "libhdrlib not installed"
[[ $(readelf -d "$library" 2>/dev/null) == *"Library soname: [libhdrlib.so.1]"* ]] ||
    fail "libhdrlib has no soname libhdrlib.so.1"
# What building against it needs (dev_package.sh builds with them).
libdir=$(dirname "$library")
[[ $(readlink "$libdir/libhdrlib.so") == libhdrlib.so.1 ]] || fail "no libhdrlib.so link"
for file in pkgconfig/hdrlib.pc cmake/hdrlib/hdrlibConfig.cmake cmake/hdrlib/hdrlibTargets.cmake; do
    [[ -e $libdir/$file ]] || fail "not installed: $file"
done

# The staged programs load the staged libhdrlib (nothing of the build tree).
for program in fitstag veldsim veldra; do
    found=$(ldd "$stage/bin/$program" | sed -n 's/.*libhdrlib[^ ]* => \([^ ]*\).*/\1/p')
    [[ $found == "$stage"/* ]] || fail "$program finds libhdrlib at '$found'"
done
"$stage/bin/veldsim" --help >/dev/null 2>&1 || fail "staged veldsim --help"
"$stage/bin/fitstag" >/dev/null 2>"$work/fitstag.err"
[[ $? -ne 127 && ! -s $work/fitstag.err ]] || fail "staged fitstag: $(cat "$work/fitstag.err")"

desktop-file-validate "$stage/share/applications/$app.desktop" >"$work/desktop.log" 2>&1 ||
    fail "desktop-file-validate: $(cat "$work/desktop.log")"
appstreamcli validate --no-net "$stage/share/metainfo/$app.metainfo.xml" >"$work/as.log" 2>&1 ||
    fail "appstreamcli: $(cat "$work/as.log")"
for page in "$stage"/share/man/man1/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "man $(basename "$page"): $warnings"
done

# The installed program's folder cannot be written: not by root either, whose bounding
# set loses the capabilities that pass over permission bits.
chmod -R a-w "$stage/bin"
run_veldra() { # run_veldra WAIT_FOR_LOG [ARGS...]: starts veldra, ends it by SIGTERM
    local log=$1
    shift
    if ((EUID == 0)); then
        setpriv --bounding-set=-dac_override,-dac_read_search -- "$stage/bin/veldra" "$@" \
            >"$work/veldra.out" 2>&1 &
    else
        "$stage/bin/veldra" "$@" >"$work/veldra.out" 2>&1 &
    fi
    local pid=$!
    if ! wait_for 60 log_has "$log" " : Hdrlib version "; then
        fail "veldra $* did not start: $(cat "$work/veldra.out")"
        kill -KILL $pid
        wait $pid
        return
    fi
    kill -TERM $pid
    end_within 60 $pid || fail "veldra $* did not end"
}

export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
run_veldra "$XDG_STATE_HOME/veldra/debug.txt"
[[ -f $XDG_CONFIG_HOME/veldra/veldra.ini ]] || fail "no veldra.ini under XDG_CONFIG_HOME"
[[ $(last_event "$XDG_STATE_HOME/veldra/debug.txt") == " : Ending Veldra" ]] ||
    fail "log under XDG_STATE_HOME does not end with ' : Ending Veldra'"
[[ ! -e $stage/bin/veldra.ini && ! -e $stage/bin/debug.txt ]] || fail "wrote into bin"

export XDG_CONFIG_HOME=$work/config2 XDG_STATE_HOME=$work/state2
run_veldra "$work/chosen/debug.txt" --config-dir "$work/chosen"
[[ -f $work/chosen/veldra.ini ]] || fail "--config-dir: no veldra.ini there"
[[ ! -e $XDG_CONFIG_HOME && ! -e $XDG_STATE_HOME ]] || fail "--config-dir: XDG folders used"
finish
