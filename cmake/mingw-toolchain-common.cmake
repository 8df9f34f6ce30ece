# Shared part of the MinGW-w64 toolchain files: the caller sets
# TOOLCHAIN_PREFIX and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# The cross tools are looked for here, before the project is declared: when
# they are missing, CMake's own compiler detection would fail half way and
# leave a cache whose flags are empty, and a later configure with the tools
# installed would take that cache and build without optimisation.
foreach(tool IN ITEMS g++ windres)
  find_program(velbrin_mingw_tool NAMES ${TOOLCHAIN_PREFIX}-${tool} NO_CACHE)
  if(NOT velbrin_mingw_tool)
    message(FATAL_ERROR "${TOOLCHAIN_PREFIX}-${tool} not found: install MinGW-w64 (scripts/install-deps.sh), "
                        "then delete this build folder and configure again")
  endif()
endforeach()

set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Windows test programs run under Wine through CTest, in the project's Wine
# environment (scripts/wine-env.sh).
find_program(VELBRIN_WINE NAMES wine)
if(VELBRIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
endif()
