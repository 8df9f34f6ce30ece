#!/bin/sh
# A native module exports exactly its host's entry points (the two of the
# VirtualDub host unless others are named after the library), and carries
# none of the band pool's test hooks.
set -eu
lib=$1
shift
[ $# -gt 0 ] || set -- VirtualdubFilterModuleDeinit VirtualdubFilterModuleInit2
exports=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWwDdBbRrVv]$/ {print $3}' | sort | tr '\n' ' ')
expected=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
if [ "$exports" != "$expected" ]; then
  echo "exports of $lib: '$exports', expected '$expected'"
  exit 1
fi
echo "exports of $lib: $exports"
# The band pool's test hooks are built into the test libraries only.
if nm -C "$lib" | grep -E 'band_pool_(state|set_threads|fail_thread_starts)'; then
  echo "$lib carries the band pool's test hooks"
  exit 1
fi
