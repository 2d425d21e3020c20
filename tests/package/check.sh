#!/usr/bin/env bash
# Installs a build of the suite into a fresh prefix, builds the consumer
# project against the installed package (with the build's toolchain), and runs
# it (under Wine for win32), then the installed qz.
#
#   check.sh BUILD_DIR WORK_DIR [TOOLCHAIN_FILE]
set -euo pipefail
build=$1 work=$2 toolchain=${3:-}
here=$(cd "$(dirname "$0")/consumer" && pwd)
rm -rf "$work"
mkdir -p "$work/run"
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log"
config=$(find "$prefix" -name qzConfig.cmake -print -quit)
[ -n "$config" ] || { echo "no qzConfig.cmake under $prefix"; exit 1; }

args=(-S "$here" -B "$work/build" -G Ninja -Dqz_DIR="$(dirname "$config")")
[ -n "$toolchain" ] && args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
cmake "${args[@]}" >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build"

if [ -n "$toolchain" ]; then
  export WINEDEBUG=-all
  WINEPATH=$(winepath -w "$prefix/bin") wine "$work/build/consumer.exe" "$(winepath -w "$work/run")"
  wine "$prefix/bin/qz.exe" --version
else
  # Each shared library under its versioned name, with the loader's link beside it.
  for lib in ferrow pellam brellu qzplatform; do
    ls "$prefix"/lib*/lib$lib.so.*.*.* >/dev/null
  done
  "$work/build/consumer" "$work/run"
  "$prefix/bin/qz" --version
fi
