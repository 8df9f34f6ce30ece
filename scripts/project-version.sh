#!/usr/bin/env bash
# Prints the project's version, as CMake's project() gives it, from a
# configured build folder (default build/native).
#   scripts/project-version.sh [BUILD_DIR]
set -euo pipefail
cache=${1:-build/native}/CMakeCache.txt
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$cache" 2>/dev/null || true)
[ -n "$version" ] || { echo "$0: no project version in $cache (configure it first)" >&2; exit 1; }
echo "$version"
