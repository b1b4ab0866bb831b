#!/usr/bin/env bash
# The Debian package (`make package`) as a distribution's checker and a user's machine see it:
# built by CPack from BUILD_DIR into WORK_DIR, then lintian, its control fields and files, and
# the programs unpacked from it.
#
#   check_deb.sh BUILD_DIR WORK_DIR VERSION LIBDIR
set -euo pipefail
build=$1 work=$2 version=$3 libdir=$4
app_id=io.github.wynfc.WyNfc
soname=libwy_nfc_mapping.so.${version%%.*}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work"
(cd "$build" && cpack -B "$work/out") >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"
    fail "cpack"
}
deb=$work/out/wynfc_${version}-1_$(dpkg --print-architecture).deb
[[ -f "$deb" ]] || fail "no $(basename "$deb") among: $(ls "$work/out")"

# lintian's errors fail; its warnings are printed for the reader of the log.
command -v lintian >/dev/null || fail "lintian is not installed (scripts/bootstrap installs it)"
lintian --fail-on error "$deb" || fail "lintian reports errors"

# Control fields: the dependencies are dpkg-shlibdeps' (the linked libraries); the library is
# announced to other packages (shlibs) and the loader's cache refreshed by trigger.
depends=$(dpkg-deb -f "$deb" Depends)
app_built=false
[[ -x "$build/WyNfcApp/WyNfcApp" ]] && app_built=true
needed=("libc6 (" "libstdc++6 (")
$app_built && needed+=("libgtk-4-1 (" "libwebkitgtk-6.0-4 (")
for dependency in "${needed[@]}"; do
    [[ "$depends" == *"$dependency"* ]] || fail "Depends lacks ${dependency% (}: $depends"
done
dpkg-deb -I "$deb" shlibs | grep -qx "libwy_nfc_mapping ${version%%.*} wynfc (>= ${version}-1)" ||
    fail "shlibs: $(dpkg-deb -I "$deb" shlibs)"
dpkg-deb -I "$deb" triggers | grep -qx "activate-noawait ldconfig" || fail "no ldconfig trigger"

# Files: everything the install tree has, where a Debian system looks for it, owned by root.
contents=$(dpkg-deb -c "$deb")
files=(usr/bin/wynfc "usr/$libdir/$soname" "usr/$libdir/libwy_nfc_mapping.so"
    "usr/$libdir/pkgconfig/wy_nfc_mapping.pc" "usr/$libdir/cmake/wy_nfc_mapping/wy_nfc_mappingConfig.cmake"
    usr/include/wy_nfc_mapping/ApiHeader.h usr/share/wynfc/address_map.json usr/share/wynfc/index.html
    usr/share/man/man1/wynfc.1.gz usr/share/bash-completion/completions/wynfc
    usr/share/doc/wynfc/copyright usr/share/doc/wynfc/changelog.Debian.gz)
$app_built && files+=(usr/bin/WyNfcApp usr/share/man/man1/WyNfcApp.1.gz "usr/share/applications/$app_id.desktop"
    "usr/share/metainfo/$app_id.metainfo.xml" "usr/share/icons/hicolor/scalable/apps/$app_id.svg")
for file in "${files[@]}"; do
    grep -q " \./$file\( ->\|$\)" <<<"$contents" || fail "the package lacks /$file"
done
! awk '$2 != "root/root"' <<<"$contents" | grep -q . || fail "files not owned by root: $(awk '$2 != "root/root"' <<<"$contents")"

# Unpacked: no run path (the library is in the loader's folder once installed), and the
# programs work from the package's files alone.
root=$work/root
dpkg-deb -x "$deb" "$root"
for program in "$root"/usr/bin/*; do
    ! readelf -d "$program" | grep -q 'RPATH\|RUNPATH' || fail "$program keeps a run path"
done
run() { env -u WYNFC_RESOURCES -u WYNFC_DATA_DIR LD_LIBRARY_PATH="$root/usr/$libdir" "$root/usr/bin/wynfc" "$@"; }
[[ "$(run --version)" == "wynfc $version" ]] || fail "wynfc --version"
WYNFC_TIME_SCALE=0.05 run read --json | tail -n 1 | grep -q '"Read completed"' || fail "wynfc read from the package"
MANWIDTH=100 man -l -Tutf8 "$root/usr/share/man/man1/wynfc.1.gz" 2>/dev/null | grep -q 'wynfc' ||
    fail "man cannot show the packaged manual page"
if $app_built; then
    # The application's page: no warning, and every option its --help lists.
    page=$root/usr/share/man/man1/WyNfcApp.1.gz
    warnings=$(MANROFFSEQ='' man --warnings -l -Tutf8 "$page" 2>&1 >/dev/null)
    [[ -z "$warnings" ]] || fail "WyNfcApp's manual page renders with warnings: $warnings"
    text=$(MANWIDTH=200 man -l -Tutf8 "$page" 2>/dev/null | sed 's/.\x08//g')
    for option in $(env -u DISPLAY -u WAYLAND_DISPLAY "$build/WyNfcApp/WyNfcApp" --help | grep -o -- '--[a-z-]*' | sort -u); do
        grep -q -- "$option" <<<"$text" || fail "WyNfcApp's manual page does not mention $option"
    done
fi
rm -rf "$work"
