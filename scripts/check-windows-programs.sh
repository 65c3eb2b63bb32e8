#!/usr/bin/env bash
# Checks the built Windows programs of a preset for what running elevated asks of them:
#
#   bash scripts/check-windows-programs.sh win32|win64|winarm64
#
# - imports: only the KnownDLLs KERNEL32, ADVAPI32, msvcrt and SETUPAPI (a DLL outside them
#   would be looked for beside the program first, and a planted one would run elevated), and no
#   libstdc++/libgcc/winpthread runtime DLL;
# - InstallerCheck.exe holds none of the calls that change device state or a certificate store,
#   and of all the programs only InstallerDeploy.exe holds the call that adds to a store
#   (/trustpublisher);
# - DllCharacteristics: ASLR (DYNAMIC_BASE), DEP (NX_COMPAT), and HIGH_ENTROPY_VA on 64-bit;
# - the stack protector is linked in (some function of the program checks its canary). zig's
#   linker (winarm64) leaves no symbol table in the program: there the check is that the
#   objects linked into it (ninja's list) call __stack_chk_fail, which the link resolved;
# - winarm64: the programs are ARM64 images (PE32+, machine AArch64);
# - the entry keeps the DLL search to the system folder (SetDefaultDllDirectories is looked up);
# - the manifests: Installer.exe and InstallerRemove.exe ask for administrator rights,
#   InstallerCheck.exe runs as invoker.
# Prints what is wrong and exits 1; silent when all is well.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=$1
llvm=/usr/lib/llvm-14/bin
case $preset in
win32) tools=i686-w64-mingw32 flags=(DYNAMIC_BASE NX_COMPAT) ;;
win64) tools=x86_64-w64-mingw32 flags=(HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT) ;;
winarm64) tools= flags=(HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT) ;;
*) echo "usage: $0 win32|win64|winarm64" >&2; exit 2 ;;
esac
# Headers and imports; the manifest's text (the resource script windres gives back, or for
# ARM64 images, which Debian's windres cannot read, the manifest's own bytes).
headers_of() { if [[ -n $tools ]]; then "$tools-objdump" -p "$1"; else "$llvm/llvm-objdump" -p "$1"; fi; }
manifest_of() { if [[ -n $tools ]]; then "$tools-windres" -i "$1" -O rc; else grep -ao '<requestedExecutionLevel[^>]*>' "$1"; fi; }

problems=()
for program in Installer InstallerCheck InstallerRemove TraceLogDecode InstallerDeploy; do
    exe=build/$preset/$program.exe
    if [[ ! -f $exe ]]; then
        problems+=("$exe missing")
        continue
    fi
    headers=$(headers_of "$exe")
    dlls=$(awk '/DLL Name:/ { print toupper($3) }' <<<"$headers" | sort -u | tr '\n' ' ')
    for dll in $dlls; do
        case $dll in
        KERNEL32.DLL | ADVAPI32.DLL | MSVCRT.DLL | SETUPAPI.DLL) ;;
        *) problems+=("$exe imports $dll, which is not one of the KnownDLLs allowed") ;;
        esac
    done
    for flag in "${flags[@]}"; do
        # objdump lists each set DllCharacteristics flag on a line of its own after the value.
        grep -A8 '^DllCharacteristics' <<<"$headers" | grep -qw "$flag" ||
            problems+=("$exe lacks DllCharacteristics $flag")
    done
    grep -q SetDefaultDllDirectories "$exe" ||
        problems+=("$exe never limits its DLL search to the system folder")
    if [[ -n $tools ]]; then
        # (32-bit symbols carry one more leading underscore.)
        symbols=$("$tools-nm" "$exe")
        grep -qE ' _?__stack_chk_fail$' <<<"$symbols" ||
            problems+=("$exe has no stack protector (__stack_chk_fail not linked)")
    else
        grep -q '^Magic *020b' <<<"$headers" &&
            grep -qx 'architecture: aarch64' <<<"$("$llvm/llvm-objdump" -f "$exe")" ||
            problems+=("$exe is not an ARM64 PE32+ image")
        mapfile -t objects < <(ninja -C "build/$preset" -t inputs "$program.exe" |
            grep '\.obj$' | sed "s,^,build/$preset/,")
        symbols=$( ((${#objects[@]} == 0)) || "$llvm/llvm-nm" "${objects[@]}" 2>/dev/null)
        grep -q ' U __stack_chk_fail$' <<<"$symbols" ||
            problems+=("$exe has no stack protector (its objects never call __stack_chk_fail)")
    fi
done

# The check only reads: the setters and the driver calls are not in it, not even by name.
check=build/$preset/InstallerCheck.exe
if [[ -f $check ]]; then
    for call in SetupDiSetDeviceRegistryPropertyW SetupCopyOEMInfW UpdateDriverForPlugAndPlayDevicesW \
        DiUninstallDriverW SetupUninstallOEMInfW CertAddEncodedCertificateToStore; do
        if grep -q "$call" "$check"; then
            problems+=("$check contains $call, a call that changes the machine")
        fi
    done
    grep -q 'asInvoker' <<<"$(manifest_of "$check")" ||
        problems+=("$check does not run as invoker")
fi
# Adding a certificate to a store is the deploy program's alone.
for program in Installer InstallerRemove TraceLogDecode; do
    if [[ -f build/$preset/$program.exe ]] &&
        grep -q CertAddEncodedCertificateToStore "build/$preset/$program.exe"; then
        problems+=("build/$preset/$program.exe contains CertAddEncodedCertificateToStore, which only InstallerDeploy.exe may hold")
    fi
done
for installer in build/$preset/Installer.exe build/$preset/InstallerRemove.exe; do
    if [[ -f $installer ]]; then
        grep -q 'requireAdministrator' <<<"$(manifest_of "$installer")" ||
            problems+=("$installer does not ask for administrator rights")
    fi
done

if ((${#problems[@]} > 0)); then
    printf '%s\n' "${problems[@]}" >&2
    exit 1
fi
