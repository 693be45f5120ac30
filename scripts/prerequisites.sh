#!/usr/bin/env bash
# The system-wide part of the set-up, for a fresh Debian 12 machine: the
# packages, the i386 architecture, and the kernel's support for 32-bit programs
# (through qemu-user where it has none). It writes nothing into the source
# tree, so `sudo scripts/prerequisites.sh` from a normal user's clone leaves the
# clone to that user; the build tree and the Wine prefix are made by the test
# command and the demo, as whoever runs them. Safe to run again.
#
# Usage: scripts/prerequisites.sh     as root: installs what is missing;
#                                     as anyone else: says what is missing, and fails if anything is
set -euo pipefail

say() { printf 'prerequisites: %s\n' "$*"; }
die() { printf 'prerequisites: error: %s\n' "$*" >&2; exit 1; }

packages=(cmake make g++ googletest libgtest-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
          wine wine64 wine32:i386 qemu-user-static xvfb xauth
          clang libclang-rt-14-dev clang-tidy cppcheck shellcheck unzip python3 python3-yaml file)

missing_packages() {
    local p
    for p in "${packages[@]}"; do
        # dpkg-query knows "wine32:i386"; a native package is asked for by its bare name
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
    done
}

runs_32bit() { /lib/ld-linux.so.2 --help >/dev/null 2>&1; }

if [ "$(id -u)" != 0 ]; then
    missing=$(missing_packages | tr '\n' ' ')
    status=0
    [ -z "$missing" ] || { say "missing packages: $missing"; status=1; }
    runs_32bit || { say "this machine cannot run 32-bit programs yet"; status=1; }
    [ $status = 0 ] || die "run 'sudo scripts/prerequisites.sh' once (it installs packages and registers binfmt_misc)"
    exit 0
fi

# --- packages ---------------------------------------------------------------
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "adding the i386 architecture to dpkg"
    dpkg --add-architecture i386
fi

mapfile -t missing < <(missing_packages)
if [ ${#missing[@]} -gt 0 ]; then
    say "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
else
    say "all packages are installed"
fi

# --- 32-bit programs --------------------------------------------------------
# The 32-bit Wine loader is an i386 ELF. Where the kernel cannot run it, qemu-user does.
if runs_32bit; then
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
    runs_32bit || die "32-bit programs still do not run after the qemu registration"
fi
say "done"
