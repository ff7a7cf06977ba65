#!/usr/bin/env bash
# The Debian package CPack makes of the build tree: exactly the installed files, the
# shared-library dependencies and the solver suggestions.  (./scripts/package builds the
# release package and runs lintian on it.)
#   package_files.sh BUILD_DIR
set -uo pipefail
build=$1
source "$(dirname "$0")/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) ||
    { fail "cpack: $(tail -5 "$work/cpack.log")"; finish; }
package=$(ls "$work"/veldra_*.deb 2>/dev/null | head -n 1)
[[ -n $package ]] || { fail "no package made"; finish; }

dpkg-deb --contents "$package" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' |
    sed -E 's|^usr/lib/([a-z0-9_]+-linux-gnu/)?|usr/lib/|' | sort >"$work/files"
app=org.veldra.Veldra
{
    printf '%s\n' usr/bin/veldra usr/bin/fitstag usr/bin/veldsim usr/bin/veldra-solve \
        usr/include/hdrlib.h usr/lib/libhdrlib.so.1 usr/lib/libhdrlib.so.1.0.0 \
        usr/share/applications/$app.desktop usr/share/metainfo/$app.metainfo.xml \
        usr/share/icons/hicolor/scalable/apps/$app.svg \
        usr/share/doc/veldra/changelog.gz usr/share/doc/veldra/copyright
    for size in 16 24 32 48 64 128 256; do
        echo "usr/share/icons/hicolor/${size}x${size}/apps/$app.png"
    done
    for page in veldra fitstag veldsim veldra-solve; do echo "usr/share/man/man1/$page.1.gz"; done
} | sort >"$work/expected"
diff -u "$work/expected" "$work/files" >"$work/diff" || fail "package files differ: $(cat "$work/diff")"

control=$(dpkg-deb --field "$package")
[[ $control == *"Suggests: astrometry.net, astrometry-data-tycho2"* ]] || fail "Suggests: $control"
depends=$(dpkg-deb --field "$package" Depends)
for library in libqt6widgets6 libqt6charts6 libcfitsio10 libc6; do
    [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
finish
