#!/usr/bin/env bash
# Checks the hardening and the imports of a built korvanel.exe from its PE headers.
# Usage: pe_hardening.sh OBJDUMP win32|win64 korvanel.exe
set -euo pipefail
objdump=$1 target=$2 exe=$3
headers=$("$objdump" -p "$exe")
status=0
check() {
    if [ "$2" = "$3" ]; then echo "ok: $1 ($3)"; else echo "FAILED: $1: expected '$2', got '$3'"; status=1; fi
}
field() { awk -v name="$1" '$1 == name { print $2; exit }' <<<"$headers"; }

characteristics=$((16#$(field DllCharacteristics)))
check "dynamic base (ASLR)" yes "$( (( characteristics & 0x40 )) && echo yes || echo no)"
check "NX compatible (DEP)" yes "$( (( characteristics & 0x100 )) && echo yes || echo no)"
check "relocations kept for ASLR" yes "$(grep -q 'Base Relocation Directory \[\.reloc\]' <<<"$headers" && echo yes || echo no)"
file_characteristics=$(( $(field Characteristics) ))
check "relocations not stripped" no "$( (( file_characteristics & 0x1 )) && echo yes || echo no)"
check "Terminal Server aware" yes "$( (( characteristics & 0x8000 )) && echo yes || echo no)"
check "GUI subsystem" 00000002 "$(field Subsystem)"
if [ "$target" = win64 ]; then
    # The oldest the x64 loader takes: XP Professional x64 and Server 2003 SP1, as the compatibility page promises.
    check "subsystem version" 5.2 "$(field MajorSubsystemVersion).$(field MinorSubsystemVersion)"
    check "high-entropy virtual addresses" yes "$( (( characteristics & 0x20 )) && echo yes || echo no)"
    # Unwind tables: the exception directory's function table must cover the
    # entry point, so a debugger or Windows Error Reporting can walk from there.
    entry=$(( 16#$(field ImageBase) + 16#$(field AddressOfEntryPoint) ))
    functions=0 covered=no
    while read -r begin end; do
        functions=$((functions + 1))
        (( 16#$begin <= entry && entry < 16#$end )) && covered=yes
    done < <(awk '/^The Function Table/ { table = 1; next }
                  table && NF == 0 { table = 0 }
                  table && NF == 4 && $2 ~ /^[0-9a-f]+$/ { print $2, $3 }' <<<"$headers")
    check "unwind tables (.pdata, $functions functions) cover the entry point" yes "$covered"
else
    check "subsystem version" 4.0 "$(field MajorSubsystemVersion).$(field MinorSubsystemVersion)"
    check "no SE handlers (NO_SEH)" yes "$( (( characteristics & 0x400 )) && echo yes || echo no)"
fi
check "imported DLLs" "KERNEL32.dll msvcrt.dll USER32.dll" \
    "$(awk '/DLL Name:/ { print $3 }' <<<"$headers" | sort -f | tr '\n' ' ' | sed 's/ $//')"

# Every function the tool imports, with the first Windows that exports it. The
# compatibility page's oldest Windows follows from this list: a new import fails the check
# until it is added here, and its first Windows looked up. "Documented" is the
# "Minimum supported client" of the function's page on learn.microsoft.com;
# several pages now start at XP or Vista because older versions were dropped
# from them, which the note says. msvcrt.dll's C functions have been in every
# msvcrt.dll; the C runtime reference names no Windows version.
allowed_imports="
KERNEL32.dll CloseHandle           Windows 2000 (documented)
KERNEL32.dll ExitProcess           Windows 2000 (documented from XP; the page dropped older versions)
KERNEL32.dll GetCommandLineA       Windows 2000 (documented from XP; the page dropped older versions)
KERNEL32.dll GetCurrentProcessId   Windows 2000 (documented from XP; the page dropped older versions)
KERNEL32.dll GetLastError          Windows 2000 (documented from XP; the page dropped older versions)
KERNEL32.dll GetModuleHandleA      Windows 2000 (documented from XP; the page dropped older versions)
KERNEL32.dll GetProcAddress        Windows 2000 (documented from XP; the page dropped older versions)
KERNEL32.dll OpenThread            Windows 2000 (documented from XP; the page dropped older versions)
KERNEL32.dll ProcessIdToSessionId  Windows 2000 (documented from Vista; the page dropped older versions)
KERNEL32.dll SetThreadPriority     Windows 2000 (documented from XP; the page dropped older versions)
msvcrt.dll   calloc                every msvcrt.dll
msvcrt.dll   free                  every msvcrt.dll
msvcrt.dll   malloc                every msvcrt.dll
msvcrt.dll   strcmp                every msvcrt.dll
msvcrt.dll   strlen                every msvcrt.dll
USER32.dll   FindWindowA           Windows 2000 (documented)
USER32.dll   GetProcessWindowStation Windows 2000 (documented)
USER32.dll   GetSystemMetrics      Windows 2000 (documented)
USER32.dll   GetUserObjectInformationA Windows 2000 (documented)
USER32.dll   GetWindowThreadProcessId Windows 2000 (documented)
USER32.dll   MessageBoxA           Windows 2000 (documented)
"
# "DLL function" per import, from objdump's import tables.
imported=$(awk '/DLL Name:/ { dll = $3; next }
                dll != "" && NF == 0 { dll = "" }
                dll != "" && $1 ~ /^[0-9a-f]+$/ && NF == 3 { print dll, $3 }' <<<"$headers")
for dll in KERNEL32.dll msvcrt.dll USER32.dll; do
    check "$dll functions are the listed ones" \
        "$(awk -v dll="$dll" 'NF && $1 == dll { print $2 }' <<<"$allowed_imports" | sort | tr '\n' ' ')" \
        "$(awk -v dll="$dll" '$1 == dll { print $2 }' <<<"$imported" | sort | tr '\n' ' ')"
done
exit $status
