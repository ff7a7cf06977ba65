#!/usr/bin/env bash
# libhdrlib1 and libhdrlib-dev as someone else uses them: debian/ builds them (build
# profile pkg.veldra.hdrlib-only: the library alone, about a minute) in a copy of the
# source, dpkg -x unpacks them into a folder standing for /, and a small C program is built
# against them with pkg-config and with the CMake package, then run.
#   dev_package.sh SOURCE_DIR VERSION        (exit 77: skipped, debhelper missing)
set -uo pipefail
source_dir=$1
version=$2
source "$source_dir/tests/programs/lib.sh"
command -v dpkg-buildpackage >/dev/null && command -v dh >/dev/null ||
    { echo "debhelper is not installed (./scripts/setup-deps installs it)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

copy=$work/src/veldra-$version
mkdir -p "$copy"
(cd "$source_dir" && tar --exclude=./build --exclude=./.git --exclude='./obj-*' -cf - .) |
    tar -xf - -C "$copy"
(cd "$copy" && dpkg-buildpackage -us -uc -b -Ppkg.veldra.hdrlib-only) >"$work/build.log" 2>&1 ||
    { fail "dpkg-buildpackage: $(tail -20 "$work/build.log")"; finish; }

arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
library=$work/src/libhdrlib1_${version}_$(dpkg-architecture -qDEB_HOST_ARCH).deb
dev=${library/libhdrlib1_/libhdrlib-dev_}
root=$work/root
for package in "$library" "$dev"; do
    dpkg -x "$package" "$root" || fail "dpkg -x $package"
done
[[ $(dpkg-deb -f "$dev" Depends) == "libhdrlib1 (= $version)"* ]] ||
    fail "libhdrlib-dev Depends: $(dpkg-deb -f "$dev" Depends)"
[[ $(dpkg-deb -f "$library" Depends) == *libcfitsio* ]] ||
    fail "libhdrlib1 Depends lacks CFITSIO: $(dpkg-deb -f "$library" Depends)"
# The symbols file names the whole C interface and nothing else.
symbols=$(dpkg-deb -I "$library" symbols | sed -n 's/^ \([A-Za-z_]*\)@Base.*/\1/p' | sort)
exported=$(nm -D --defined-only "$root/usr/lib/$arch/libhdrlib.so.1" | awk '$2 == "T" {print $3}' |
    sort)
[[ -n $symbols && $symbols == "$exported" ]] || fail "symbols '$symbols' but exported '$exported'"
[[ $(readlink "$root/usr/lib/$arch/libhdrlib.so") == libhdrlib.so.1 ]] ||
    fail "libhdrlib.so does not link to libhdrlib.so.1"

expected="hdrlib $version: 4x2, OBJECT M 31"
export LD_LIBRARY_PATH=$root/usr/lib/$arch
# pkg-config: the .pc file says /usr; the sysroot puts the unpacked folder in front.
flags=$(PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$root/usr/lib/$arch/pkgconfig \
    PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 PKG_CONFIG_ALLOW_SYSTEM_LIBS=1 \
    pkg-config --cflags --libs hdrlib) || fail "pkg-config hdrlib"
client=$source_dir/tests/programs/hdrlib-client
# shellcheck disable=SC2086 # the flags are separate words
cc -std=c11 -Wall -Wextra -Werror -o "$work/client" "$client/client.c" $flags 2>"$work/cc.log" ||
    fail "cc with pkg-config's '$flags': $(cat "$work/cc.log")"
[[ $("$work/client" "$work/a.fits" 2>&1) == "$expected" ]] ||
    fail "pkg-config client: $("$work/client" "$work/a.fits" 2>&1)"

# CMake: find_package(hdrlib) from the unpacked prefix.
cmake -S "$client" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$root/usr" >"$work/cmake.log" 2>&1 &&
    cmake --build "$work/cmake" >>"$work/cmake.log" 2>&1 ||
    fail "CMake client: $(tail -15 "$work/cmake.log")"
[[ $("$work/cmake/client" "$work/b.fits" 2>&1) == "$expected" ]] ||
    fail "CMake client: $("$work/cmake/client" "$work/b.fits" 2>&1)"
finish
