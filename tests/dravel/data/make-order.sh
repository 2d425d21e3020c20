#!/bin/sh
# Rebuilds order.dll from order.S and order.def with the MinGW-w64 i686 tools
# (no time stamp, so that the same sources give the same bytes).
set -e
cd "$(dirname "$0")"
i686-w64-mingw32-as order.S -o /tmp/order.$$.o
i686-w64-mingw32-ld -shared -s --no-insert-timestamp --image-base 0x10000000 --entry _DllEntry@12 \
  -o order.dll /tmp/order.$$.o order.def
rm -f /tmp/order.$$.o
