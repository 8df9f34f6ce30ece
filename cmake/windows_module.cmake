# Windows builds: the module is one DLL that imports only KERNEL32 and USER32,
# so nothing linked into it may need the MinGW C or C++ runtime. This file
# sets the compile options that keep generated code runtime-free and offers
# velbrin_link_without_crt() for the DLL's link.
#
# Included from the top-level CMakeLists.txt, before any target exists, so the
# options reach every library that ends up in the module (engine, settings,
# dialog and whatever kernels are added later).

# The dialog template is a resource script compiled by windres.
enable_language(RC)

# No exceptions, no RTTI and no guarded function-local statics: each of those
# pulls in libstdc++ support code and, through it, the C runtime DLL.
add_compile_options(
  $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>
  $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti>
  $<$<COMPILE_LANGUAGE:CXX>:-fno-threadsafe-statics>
)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # 32-bit Windows only guarantees a 4-byte aligned stack at a call, and hosts
  # built with other compilers call the module with exactly that. GCC assumes
  # 16 bytes unless told otherwise; with this it realigns the stack in every
  # function that keeps 16-byte aligned (SSE) data there.
  add_compile_options(-mincoming-stack-boundary=2)
  set(VELBRIN_DLL_ENTRY _DllEntry@12)  # stdcall decoration of DllEntry
else()
  set(VELBRIN_DLL_ENTRY DllEntry)
endif()

# Links `target` (a MODULE library) as a DLL without the MinGW start-up files
# and default libraries: its own DllEntry is the entry point (from
# module/dll_entry.cpp, or the file given after ENTRY), memcpy and friends
# come from module/crt_support.cpp (both added here), and only the KERNEL32
# and USER32 import libraries are offered (a DLL imports only what it calls).
# libgcc is a static archive: it adds no import and provides the stack probe
# (___chkstk_ms) that functions with more than 4 KiB of locals call, and
# 64-bit division on 32-bit targets.
#   velbrin_link_without_crt(target [ENTRY file.cpp])
function(velbrin_link_without_crt target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "ENTRY" "")
  set(entry "${PROJECT_SOURCE_DIR}/module/dll_entry.cpp")
  if(arg_ENTRY)
    set(entry "${arg_ENTRY}")
  endif()
  set(memory_functions "${PROJECT_SOURCE_DIR}/module/crt_support.cpp")
  target_sources(${target} PRIVATE "${entry}" "${memory_functions}")
  # Without these the compiler turns the copy loops back into calls of the
  # very functions they define.
  set_source_files_properties("${memory_functions}" PROPERTIES
    COMPILE_OPTIONS "-fno-builtin;-fno-tree-loop-distribute-patterns")
  target_link_options(${target} PRIVATE -nostdlib -static-libgcc "-Wl,-e,${VELBRIN_DLL_ENTRY}" -Wl,--subsystem,windows -s)
  target_link_libraries(${target} PRIVATE kernel32 user32 gcc)
endfunction()
