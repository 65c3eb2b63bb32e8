#!/usr/bin/env bash
# Checks the built Windows programs of a preset for what running elevated asks of them:
#
#   bash scripts/check-windows-programs.sh win32|win64
#
# - imports: only the KnownDLLs KERNEL32, ADVAPI32, msvcrt and SETUPAPI (a DLL outside them
#   would be looked for beside the program first, and a planted one would run elevated), and no
#   libstdc++/libgcc/winpthread runtime DLL;
# - InstallerCheck.exe holds none of the calls that change device state;
# - DllCharacteristics: ASLR (DYNAMIC_BASE), DEP (NX_COMPAT), and HIGH_ENTROPY_VA on x86-64;
# - the stack protector is linked in (some function of the program checks its canary);
# - the entry keeps the DLL search to the system folder (SetDefaultDllDirectories is looked up);
# - the manifests: Installer.exe and InstallerRemove.exe ask for administrator rights,
#   InstallerCheck.exe runs as invoker.
# Prints what is wrong and exits 1; silent when all is well.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=$1
case $preset in
win32) tools=i686-w64-mingw32 flags=(DYNAMIC_BASE NX_COMPAT) ;;
win64) tools=x86_64-w64-mingw32 flags=(HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT) ;;
*) echo "usage: $0 win32|win64" >&2; exit 2 ;;
esac

problems=()
for program in Installer InstallerCheck InstallerRemove TraceLogDecode InstallerDeploy; do
    exe=build/$preset/$program.exe
    if [[ ! -f $exe ]]; then
        problems+=("$exe missing")
        continue
    fi
    headers=$("$tools-objdump" -p "$exe")
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
    # (32-bit symbols carry one more leading underscore.)
    symbols=$("$tools-nm" "$exe")
    grep -qE ' _?__stack_chk_fail$' <<<"$symbols" ||
        problems+=("$exe has no stack protector (__stack_chk_fail not linked)")
done

# The check only reads: the setters and the driver calls are not in it, not even by name.
check=build/$preset/InstallerCheck.exe
if [[ -f $check ]]; then
    for call in SetupDiSetDeviceRegistryPropertyW SetupCopyOEMInfW UpdateDriverForPlugAndPlayDevicesW \
        DiUninstallDriverW SetupUninstallOEMInfW; do
        if grep -q "$call" "$check"; then
            problems+=("$check contains $call, a call that changes device state")
        fi
    done
    grep -q 'asInvoker' <<<"$("$tools-windres" -i "$check" -O rc)" ||
        problems+=("$check does not run as invoker")
fi
for installer in build/$preset/Installer.exe build/$preset/InstallerRemove.exe; do
    if [[ -f $installer ]]; then
        grep -q 'requireAdministrator' <<<"$("$tools-windres" -i "$installer" -O rc)" ||
            problems+=("$installer does not ask for administrator rights")
    fi
done

if ((${#problems[@]} > 0)); then
    printf '%s\n' "${problems[@]}" >&2
    exit 1
fi
