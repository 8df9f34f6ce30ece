#!/bin/sh
# The native module exports exactly the host's two entry points.
set -eu
exports=$(nm -D --defined-only "$1" | awk '$2 ~ /^[TtWwDdBbRrVv]$/ {print $3}' | sort | tr '\n' ' ')
expected="VirtualdubFilterModuleDeinit VirtualdubFilterModuleInit2 "
if [ "$exports" != "$expected" ]; then
  echo "exports of $1: '$exports', expected '$expected'"
  exit 1
fi
echo "exports of $1: $exports"
