#!/bin/sh
# The built Windows module's (or frei0r plug-in's) export and import tables,
# read with the MinGW objdump:
#   - the file is a DLL for the expected machine ("pei-i386" or "pei-x86-64");
#   - the export directory names the DLL "noname.vdf" and exports exactly
#     VirtualdubFilterModuleInit2 and VirtualdubFilterModuleDeinit,
#     undecorated;
#   - the only DLLs imported are KERNEL32.dll and USER32.dll (USER32 for the
#     dialog): no C runtime, libgcc or libstdc++ DLL;
#   - every KERNEL32 function it imports is one that Windows XP already has
#     (the list below: what the worker threads use), so the module still
#     loads in old hosts; a newer one (condition variables, slim locks,
#     GetTickCount64, ...) fails the check until it is judged and listed.
#
#   check_vdf_tables.sh <objdump> <noname.vdf> <pei-i386|pei-x86-64> [imports-only|frei0r]
#
# With "imports-only" the export checks are skipped (for other DLLs linked
# the module's way). With "frei0r" the file is the frei0r plug-in
# velbrin.dll: its export directory names it "velbrin.dll", it exports
# exactly the ten f0r_* entries, undecorated, and it imports KERNEL32.dll
# alone (it has no dialog).
set -eu
objdump=$1
vdf=$2
format=$3
mode=${4:-}
expected_name=noname.vdf
expected_exports="VirtualdubFilterModuleDeinit VirtualdubFilterModuleInit2 "
allowed_imports="KERNEL32.dll USER32.dll"
if [ "$mode" = "frei0r" ]; then
  expected_name=velbrin.dll
  expected_exports="f0r_construct f0r_deinit f0r_destruct f0r_get_param_info f0r_get_param_value f0r_get_plugin_info \
f0r_init f0r_set_param_value f0r_update f0r_update2 "
  allowed_imports="KERNEL32.dll"
fi

dump=$("$objdump" -p "$vdf")
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

file_format=$(printf '%s\n' "$dump" | sed -n 's/.*file format \(.*\)$/\1/p' | head -n 1)
[ "$file_format" = "$format" ] || fail "file format is '$file_format', expected '$format'"
printf '%s\n' "$dump" | grep -q '^[[:space:]]*DLL$' || fail "not marked as a DLL in its characteristics"

# Export directory: its name, then the names in the name pointer table.
dll_name=$(printf '%s\n' "$dump" | sed -n '/^The Export Tables/,/^Export Address Table/ s/^Name[[:space:]]*[0-9a-fA-F]* \(.*\)$/\1/p' | head -n 1)
exports=$(printf '%s\n' "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/ s/^[[:space:]]*\[[[:space:]]*[0-9]*\] \(.*\)$/\1/p' | sort | tr '\n' ' ')
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' | sort -u | tr '\n' ' ')

echo "$vdf: $file_format"
echo "  export directory name: $dll_name"
echo "  exports: $exports"
echo "  imports: $imports"

if [ "$mode" != "imports-only" ]; then
  [ "$dll_name" = "$expected_name" ] || fail "export directory names the DLL '$dll_name', expected '$expected_name'"
  [ "$exports" = "$expected_exports" ] || fail "exports are '$exports', expected exactly '$expected_exports'"
fi
for dll in $imports; do
  case " $allowed_imports " in
    *" $dll "*) ;;
    *) fail "imports $dll; only $allowed_imports allowed" ;;
  esac
done
# KERNEL32 functions present since Windows XP that the module may import.
xp_kernel32="CloseHandle CreateSemaphoreA CreateSemaphoreW CreateThread DeleteCriticalSection EnterCriticalSection
  GetCurrentProcess GetCurrentThreadId GetEnvironmentVariableA GetEnvironmentVariableW GetLastError
  GetProcessAffinityMask GetSystemInfo InitializeCriticalSection InterlockedCompareExchange InterlockedDecrement
  InterlockedExchange InterlockedIncrement LeaveCriticalSection ReleaseSemaphore ResetEvent SetEvent CreateEventA
  CreateEventW Sleep SwitchToThread WaitForMultipleObjects WaitForSingleObject
  DisableThreadLibraryCalls GetModuleHandleExW GetProcessHeap HeapAlloc HeapFree"
kernel32_names=$(printf '%s\n' "$dump" | sed -n '/DLL Name: KERNEL32.dll/,/DLL Name:/p' |
  awk 'NF == 3 && $2 ~ /^[0-9]+$/ { print $3 }' | sort -u | tr '\n' ' ')
echo "  KERNEL32 functions: $kernel32_names"
for name in $kernel32_names; do
  case " $(echo $xp_kernel32) " in
    *" $name "*) ;;
    *) fail "imports KERNEL32 $name, which is not on the list of functions Windows XP has" ;;
  esac
done

if [ "$mode" = "" ]; then
  case " $imports" in
    *" USER32.dll "*) ;;
    *) fail "does not import USER32.dll, which the dialog needs" ;;
  esac
fi

if [ "$failed" -ne 0 ]; then
  echo "0 passed, 1 failed"
  exit 1
fi
echo "1 passed, 0 failed"
