#!/usr/bin/env bash
# The installed tree as a user, a packager and another program's build see it.
#
#   check_install.sh STEP BUILD_DIR WORK_DIR VERSION LIBDIR
#
# STEP: tree (install the build with DESTDIR under WORK_DIR and check its layout), pkg-config
# (a C program built with pkg-config's flags), cmake-package (a C++ program built with
# find_package), relocated (the installed wynfc copied elsewhere, its resources from beside it),
# desktop (the desktop entry, AppStream metadata and icon as a distribution validates them),
# manual (wynfc's manual page renders without warnings and names every command and option),
# completion (the installed bash completion driven as bash would), clean (remove WORK_DIR). CC and CXX name the build's compilers.
set -euo pipefail
step=$1 build=$2 work=$3 version=$4 libdir=$5
here=$(cd "$(dirname "$0")" && pwd)
root=$work/root # DESTDIR
tree=$root/usr  # installed with --prefix /usr
soname=libwy_nfc_mapping.so.${version%%.*}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

check_tree() {
    rm -rf "$work"
    mkdir -p "$work"
    DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" || {
        cat "$work/install.log"
        fail "cmake --install"
    }
    local path
    for path in bin/wynfc "$libdir/$soname" include/wy_nfc_mapping/wy_nfc_mapping.h \
        include/wy_nfc_mapping/ApiHeader.h include/wy_nfc_mapping/export.h \
        share/wynfc/address_map.json share/wynfc/product_features.json share/wynfc/field_catalogue.json \
        share/wynfc/index.html share/wynfc/page/app.js share/wynfc/ic_nfc.svg \
        share/wynfc/samples/full_feature.json "$libdir/pkgconfig/wy_nfc_mapping.pc" \
        "$libdir/cmake/wy_nfc_mapping/wy_nfc_mappingConfig.cmake" \
        "$libdir/cmake/wy_nfc_mapping/wy_nfc_mappingConfigVersion.cmake"; do
        [[ -f "$tree/$path" ]] || fail "$path is not installed"
    done
    if [[ -x "$build/WyNfcApp/WyNfcApp" ]]; then
        [[ -x "$tree/bin/WyNfcApp" ]] || fail "bin/WyNfcApp is not installed"
    fi
    [[ "$(readlink "$tree/$libdir/libwy_nfc_mapping.so")" == "$soname" ]] ||
        fail "libwy_nfc_mapping.so does not point at $soname"
    readelf -d "$tree/$libdir/$soname" | grep -q "SONAME.*\[$soname\]" || fail "the library's soname is not $soname"
    grep -qx 'prefix=/usr' "$tree/$libdir/pkgconfig/wy_nfc_mapping.pc" ||
        fail "wy_nfc_mapping.pc does not name the prefix /usr"
    local program
    for program in "$tree"/bin/*; do
        # The library found relative to the program, never in the build folder.
        readelf -d "$program" | grep -q "RUNPATH.*\[\$ORIGIN/../$libdir\]" ||
            fail "$program does not look for the library beside itself"
        ! readelf -d "$program" | grep -q "$build" || fail "$program names the build folder"
    done
}

check_pkg_config() {
    export PKG_CONFIG_PATH=$tree/$libdir/pkgconfig PKG_CONFIG_SYSROOT_DIR=$root
    # In the DESTDIR the system folders are not the compiler's: pkg-config must give them.
    export PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 PKG_CONFIG_ALLOW_SYSTEM_LIBS=1
    [[ "$(pkg-config --modversion wy_nfc_mapping)" == "$version" ]] || fail "pkg-config gives another version"
    # shellcheck disable=SC2046 # the flags are words
    "${CC:-cc}" -std=c11 -Wall -Werror -o "$work/pkg_config_user" "$here/pkg_config_user.c" \
        $(pkg-config --cflags --libs wy_nfc_mapping)
    LD_LIBRARY_PATH=$tree/$libdir "$work/pkg_config_user" "$tree/share/wynfc/address_map.json"
}

check_cmake_package() {
    cmake -S "$here/cmake_user" -B "$work/cmake_user" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_COMPILER="${CXX:-c++}" -DCMAKE_PREFIX_PATH="$tree" -DINSTALLED_TREE="$tree" \
        -DEXPECTED_VERSION="$version" >"$work/cmake_user.log" || {
        cat "$work/cmake_user.log"
        fail "configuring a program with find_package(wy_nfc_mapping)"
    }
    cmake --build "$work/cmake_user"
    LD_LIBRARY_PATH=$tree/$libdir "$work/cmake_user/user" "$tree/share/wynfc/address_map.json"
}

check_relocated() {
    # A copy in a new prefix, run with nothing in the environment that names a tree.
    local moved=$work/moved/opt/wynfc
    mkdir -p "$(dirname "$moved")"
    cp -a "$tree" "$moved"
    cd "$work/moved"
    run() { env -u WYNFC_RESOURCES -u WYNFC_DATA_DIR -u LD_LIBRARY_PATH "$moved/bin/wynfc" "$@"; }
    local loaded
    loaded=$(env -u LD_LIBRARY_PATH ldd "$moved/bin/wynfc" | awk -v lib="$soname" '$1 == lib { print $3 }')
    [[ -n "$loaded" && "$(readlink -f "$loaded")" == "$(readlink -f "$moved/$libdir/$soname")" ]] ||
        fail "wynfc loads ${loaded:-no} $soname, not the copy's"
    [[ "$(run --version)" == "wynfc $version" ]] || fail "wynfc --version"
    WYNFC_TIME_SCALE=0.05 run read --json | tail -n 1 | grep -q '"Read completed"' || fail "wynfc read"
    [[ "$(run areas --json | grep -o '"name"' | wc -l)" -gt 0 ]] || fail "wynfc areas"
    # The copy's own address map is the one read: an area renamed in it shows as renamed.
    sed -i 's/"nfc_data_addr_dc_aoc"/"renamed_in_the_copy"/' "$moved/share/wynfc/address_map.json"
    run areas | grep -q '^renamed_in_the_copy ' || fail "wynfc did not take the copy's address map"
}

app_id=io.github.wynfc.WyNfc

check_desktop() {
    if [[ ! -x "$build/WyNfcApp/WyNfcApp" ]]; then
        echo "no WyNfcApp in this build: nothing to check"
        return
    fi
    local entry=$tree/share/applications/$app_id.desktop metainfo=$tree/share/metainfo/$app_id.metainfo.xml
    [[ -f "$tree/share/icons/hicolor/scalable/apps/$app_id.svg" ]] || fail "the icon is not installed"
    desktop-file-validate "$entry" || fail "desktop-file-validate $entry"
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $metainfo"
    # The three name one another: the entry its icon and program, the metadata the entry.
    grep -qx "Icon=$app_id" "$entry" || fail "the desktop entry names another icon"
    grep -qx "Exec=WyNfcApp" "$entry" || fail "the desktop entry starts another program"
    grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
        fail "the metadata launches another desktop entry"
}

check_manual() {
    local page=$tree/share/man/man1/wynfc.1 warnings text word
    [[ -f "$page" ]] || fail "the manual page is not installed"
    warnings=$(MANROFFSEQ='' man --warnings -l -Tutf8 "$page" 2>&1 >/dev/null)
    [[ -z "$warnings" ]] || fail "the manual page renders with warnings: $warnings"
    text=$(MANWIDTH=200 man -l -Tutf8 "$page" 2>/dev/null | sed 's/.\x08//g') # without overstrike
    # Whatever --help lists, the page describes: a new option or command shows up as missing.
    for word in $("$tree/bin/wynfc" --help | grep -o -- '--[a-z-]*' | sort -u) \
        read write program dump restore decode areas version; do
        grep -q -- "$word" <<<"$text" || fail "the manual page does not mention $word"
    done
}

check_completion() {
    local script=$tree/share/bash-completion/completions/wynfc
    [[ -f "$script" ]] || fail "the bash completion is not installed"
    # Completes the words given, the last being the one under the cursor; prints the offers.
    complete_words() {
        bash -c 'source "$1" && shift && COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) && _wynfc &&
            printf "%s\n" "${COMPREPLY[@]}"' _ "$script" "$tree/bin/wynfc" "$@"
    }
    offers() { complete_words "$@" | sort | tr '\n' ' '; }
    [[ "$(offers '')" == "--help --version areas decode dump help program read restore version write " ]] ||
        fail "the commands offered: $(offers '')"
    offers read -- | grep -q -- '--coalesce ' || fail "read's options lack --coalesce: $(offers read --)"
    ! offers read -- | grep -q -- '--set \|--out \|--image ' || fail "read is offered other commands' options"
    [[ "$(offers read --reader sim-)" == "sim-ble sim-nfc " ]] || fail "reader values: $(offers read --reader sim-)"
    # Each option offered is one the command takes: followed by a placeholder and an unknown
    # option, wynfc always stops with a usage error, and names the offered one only if refused.
    local command option refused
    for command in read write program dump restore decode areas; do
        for option in $(offers "$command" --); do
            refused=$("$tree/bin/wynfc" "$command" "$option" x --no-such-option 2>&1 >/dev/null || true)
            ! grep -q "\"$option\" is not an option" <<<"$refused" ||
                fail "$option is offered for $command, which refuses it"
        done
    done
    # Area names from the installed address map, then the items of the area.
    local areas
    areas=$(offers write --set nfc_data_addr_dc_a)
    [[ "$areas" == *"nfc_data_addr_dc_aoc. "* ]] || fail "areas offered for --set: $areas"
    [[ "$areas" != *"nfc_data_addr_dc_dali"* ]] || fail "--set offers areas not starting with what was typed"
    [[ "$(offers decode --area nfc_data_addr_dc_ao)" == "nfc_data_addr_dc_aoc " ]] || fail "areas for --area"
    offers write --set nfc_data_addr_dc_aoc. | grep -q 'nfc_data_addr_dc_aoc.aoc_config ' ||
        fail "items offered: $(offers write --set nfc_data_addr_dc_aoc.)"
}

case $step in
tree) check_tree ;;
pkg-config) check_pkg_config ;;
cmake-package) check_cmake_package ;;
relocated) check_relocated ;;
desktop) check_desktop ;;
manual) check_manual ;;
completion) check_completion ;;
clean) rm -rf "$work" ;;
*) fail "unknown step $step" ;;
esac
