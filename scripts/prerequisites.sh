#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Korvanel,
# then makes the 32-bit Wine usable and creates the Wine prefix in the build tree.
# Safe to run again: every step checks first and says what it does.
# Usage (as root): scripts/prerequisites.sh [build-dir]     default: ./build
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$here/build}
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)

say() { printf 'prerequisites: %s\n' "$*"; }
die() { printf 'prerequisites: error: %s\n' "$*" >&2; exit 1; }

[ "$(id -u)" = 0 ] || die "run as root (it installs packages and registers binfmt_misc)"

# --- packages ---------------------------------------------------------------
packages=(cmake make g++ googletest libgtest-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
          wine wine64 wine32:i386 qemu-user-static xvfb xauth
          clang libclang-rt-14-dev clang-tidy cppcheck zip unzip python3 file)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "adding the i386 architecture to dpkg"
    dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
    # dpkg-query knows "wine32:i386"; a native package is asked for by its bare name
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    say "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
else
    say "all packages are installed"
fi

# The posix thread model is the one GoogleTest builds with; make it the default alternative.
for t in i686-w64-mingw32 x86_64-w64-mingw32; do
    for c in gcc g++; do
        if [ "$(readlink -f "/usr/bin/$t-$c")" != "$(readlink -f "/usr/bin/$t-$c-posix")" ]; then
            say "selecting the posix $t-$c"
            update-alternatives --set "$t-$c" "/usr/bin/$t-$c-posix" >/dev/null
        fi
    done
done

# --- 32-bit programs --------------------------------------------------------
# The 32-bit Wine loader is an i386 ELF. Where the kernel cannot run it, qemu-user does.
if /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
    say "the kernel runs 32-bit programs itself"
else
    if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
        say "mounting binfmt_misc"
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc \
            || die "cannot mount binfmt_misc, so the 32-bit Wine cannot run here"
    fi
    if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
        say "registering qemu-i386-static for i386 programs"
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
            > /proc/sys/fs/binfmt_misc/register || die "binfmt_misc registration failed"
    else
        say "qemu-i386 is already registered with binfmt_misc"
    fi
    /lib/ld-linux.so.2 --help >/dev/null 2>&1 || die "32-bit programs still do not run after the qemu registration"
fi

# --- Wine prefix --------------------------------------------------------------
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export QEMU_RESERVED_VA=0x81000000
export WINEDLLOVERRIDES="mscoree,mshtml="     # no Mono/Gecko install dialogs
if [ -f "$WINEPREFIX/system.reg" ] && [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    say "Wine prefix is ready: $WINEPREFIX"
else
    say "creating the Wine prefix $WINEPREFIX (about half a minute)"
    rm -rf "$WINEPREFIX"
    wine wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] \
        || die "the Wine prefix has no 32-bit half; 32-bit Windows programs cannot run"
fi
say "done"
