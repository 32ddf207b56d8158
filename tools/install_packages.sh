#!/bin/sh
# install_packages.sh -- installs with apt-get the Debian packages a step
# needs, as root or through sudo:
#   build   compiler, CMake and make: enough to build and run the program
#   test    those, and what every test needs: GoogleTest, tmux, script
#           and python3 (the terminal tests), ps, and dpkg-dev and file
#           (the .deb)
#   extras  the optional ones: the mingw-w64 cross compiler, wine and
#           GoogleTest's sources (the Windows tests and the .zip), clang
#           (the ThreadSanitizer build)
# Usage: tools/install_packages.sh build|test|extras...
set -eu
packages=""
for step in "$@"; do
    case "$step" in
    build) packages="$packages cmake g++ make" ;;
    test) packages="$packages cmake g++ make libgtest-dev tmux bsdutils procps python3 dpkg-dev file" ;;
    extras) packages="$packages g++-mingw-w64-x86-64-posix wine wine64 googletest clang" ;;
    *)
        echo "usage: $0 build|test|extras..." >&2
        exit 2
        ;;
    esac
done
[ -n "$packages" ] || { echo "usage: $0 build|test|extras..." >&2; exit 2; }
as_root=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "$0: run it as root, or install sudo" >&2; exit 1; }
    as_root=sudo
fi
$as_root apt-get update
# shellcheck disable=SC2086 # one word per package
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $packages
