#!/bin/sh
# The native module exports exactly the host's two entry points, and
# carries none of the test hooks.
set -eu
exports=$(nm -D --defined-only "$1" | awk '$2 ~ /^[TtWwDdBbRrVv]$/ {print $3}' | sort | tr '\n' ' ')
expected="VirtualdubFilterModuleDeinit VirtualdubFilterModuleInit2 "
if [ "$exports" != "$expected" ]; then
  echo "exports of $1: '$exports', expected '$expected'"
  exit 1
fi
echo "exports of $1: $exports"
# The band pool's test hooks are built into the test libraries only.
if nm -C "$1" | grep -E 'band_pool_(state|set_threads|fail_thread_starts)'; then
  echo "$1 carries the band pool's test hooks"
  exit 1
fi
