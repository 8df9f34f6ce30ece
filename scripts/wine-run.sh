#!/bin/sh
# Runs a Windows program under Wine in the project's Wine environment
# (scripts/wine-env.sh): CTest's emulator for the Windows builds, and what
# the scripts use.   wine-run.sh program.exe [arguments...]
. "$(dirname "$0")/wine-env.sh"
exec wine "$@"
