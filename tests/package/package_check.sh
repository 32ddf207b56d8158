#!/usr/bin/env bash
# package_check.sh -- the packages, built with cpack into a scratch folder
# and checked as a user gets them:
#   deb  the Debian package of the native build: its name carries the
#        version that the packaged binary shows on its screen, its
#        dependencies come from dpkg-shlibdeps, it holds /usr/bin/quombax
#        and the README; the binary unpacked from it (dpkg-deb -x) writes
#        the reference file for the reference input;
#   zip  the Windows package of a mingw-w64 cross build: quombax.exe (a
#        64-bit PE) and README.txt, plain text with CR LF line ends.
# Arguments: $1 deb or zip, $2 the source folder, $3 the native build
# folder, $4 a scratch folder for this script.
# Exits 77 (skipped) when the package's tools are missing.
set -euo pipefail

if [ $# -ne 4 ]; then
    echo "usage: $0 deb|zip <source dir> <build dir> <scratch dir>" >&2
    exit 2
fi
kind=$1
src=$(cd "$2" && pwd)
build=$(cd "$3" && pwd)
mkdir -p "$4"
scratch=$(cd "$4" && pwd)/$kind
rm -rf "$scratch"
mkdir -p "$scratch"

# sha256 of dagoma0.g for the numbers 10, 210, 200
REFERENCE_SHA256=7dbde1216c652c13a1e3606570c7c1138d485ec113f5ac5948fbe61f2a74a5e0

source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
# need <tool> <package>...: skips the check when a tool is missing.
need() {
    while [ $# -gt 0 ]; do
        if ! command -v "$1" >/dev/null; then
            echo "SKIP: needs $1 (package $2)"
            exit 77
        fi
        shift 2
    done
}
# shown_version <binary>: the version that the binary writes on its screen.
shown_version() {
    grep -aoE 'Version: +[0-9][0-9.]* - ' "$1" | head -n 1 | sed -E 's/Version: +([0-9.]*) - /\1/'
}

case "$kind" in
deb)
    need dpkg-deb dpkg dpkg-shlibdeps dpkg-dev file file
    cpack --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" ||
        { cat "$scratch/cpack.log"; exit 1; }
    version=$(shown_version "$build/quombax")
    [ -n "$version" ] || fail "no version text in $build/quombax"
    deb=$scratch/quombax_${version}_$(dpkg --print-architecture).deb
    if [ ! -f "$deb" ]; then
        fail "no $(basename "$deb"); cpack made: $(cd "$scratch" && ls ./*.deb 2>/dev/null | tr '\n' ' ')"
        exit 1
    fi
    pass "$(basename "$deb")"

    fields=$(dpkg-deb -f "$deb" Package Version Architecture Depends)
    echo "$fields"
    grep -qx "Version: $version" <<<"$fields" || fail "the package's version is not $version"
    # Depends is filled by dpkg-shlibdeps: the C library and the C++ runtime
    # with the least versions the binary needs.
    if grep -Eq '^Depends: .*libc6 \(>= [0-9]' <<<"$fields" && grep -q 'libstdc++6 (>= ' <<<"$fields"; then
        pass "dependencies computed from the binary"
    else
        fail "Depends does not name libc6 and libstdc++6 with versions"
    fi

    contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
    for path in ./usr/bin/quombax ./usr/share/doc/quombax/README.md; do
        grep -qx "$path" <<<"$contents" && pass "holds $path" || fail "does not hold $path"
    done

    dpkg-deb -x "$deb" "$scratch/root"
    binary=$scratch/root/usr/bin/quombax
    [ "$(shown_version "$binary")" = "$version" ] || fail "the packaged binary shows another version"
    mkdir "$scratch/run"
    status=0
    (cd "$scratch/run" && printf '10\n210\n200\n' | "$binary" >output) || status=$?
    sum=$(sha256sum "$scratch/run/dagoma0.g" 2>/dev/null | cut -d ' ' -f 1 || true)
    if [ "$status" -eq 0 ] && [ "$sum" = "$REFERENCE_SHA256" ]; then
        pass "the packaged binary writes the reference file"
    else
        fail "the packaged binary: status $status, sha256 ${sum:-none}, output: $(cat "$scratch/run/output")"
    fi
    rm -f "$scratch/run/dagoma0.g"
    ;;
zip)
    need x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix
    cross=$scratch/build-windows
    cmake -S "$src" -B "$cross" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >"$scratch/configure.log" || { cat "$scratch/configure.log"; exit 1; }
    cmake --build "$cross" -j2
    cpack --config "$cross/CPackConfig.cmake" -B "$cross" >"$scratch/cpack.log" ||
        { cat "$scratch/cpack.log"; exit 1; }
    version=$(shown_version "$cross/quombax.exe")
    [ -n "$version" ] || fail "no version text in quombax.exe"
    name=quombax-$version-win64
    zip=$cross/$name.zip
    if [ ! -f "$zip" ]; then
        fail "no $name.zip; cpack made: $(cd "$cross" && ls ./*.zip 2>/dev/null | tr '\n' ' ')"
        exit 1
    fi
    pass "$name.zip"

    listing=$(cmake -E tar tf "$zip" | sort)
    echo "$listing"
    expected=$(printf '%s\n' "$name/README.txt" "$name/quombax.exe")
    [ "$listing" = "$expected" ] && pass "holds quombax.exe and README.txt" || fail "the .zip holds other files"

    mkdir "$scratch/unpacked"
    (cd "$scratch/unpacked" && cmake -E tar xf "$zip")
    exe=$scratch/unpacked/$name/quombax.exe
    text=$scratch/unpacked/$name/README.txt
    if [ -f "$exe" ] && x86_64-w64-mingw32-objdump -f "$exe" | grep -q 'file format pei-x86-64'; then
        pass "quombax.exe is a 64-bit PE"
    else
        fail "quombax.exe is missing or not a 64-bit PE"
    fi
    if [ -f "$text" ]; then
        lines=$(wc -l <"$text")
        crlf_lines=$(grep -c $'\r$' "$text" || true)
        [ "$lines" -gt 10 ] && [ "$crlf_lines" = "$lines" ] && [ "$(tail -c 2 "$text" | od -An -c | tr -d ' ')" = '\r\n' ] &&
            pass "README.txt: $lines lines, each ending in CR LF" ||
            fail "README.txt: $crlf_lines of $lines lines end in CR LF"
        [ "$(head -n 1 "$text" | tr -d '\r')" = "quombax $version on Windows" ] &&
            pass "README.txt's title" || fail "README.txt's first line is \"$(head -n 1 "$text")\""
        grep -qx $'    quombax.exe\r' "$text" && pass "README.txt tells how to start it" ||
            fail "README.txt has no \"quombax.exe\" command line"
        if grep -q '[`#]' "$text"; then fail "README.txt keeps Markdown marks"; else pass "README.txt is plain text"; fi
    else
        fail "no README.txt"
    fi
    ;;
*)
    echo "unknown package kind: $kind (deb or zip)" >&2
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all $kind package checks passed"
