#!/bin/sh
# Builds the product a second time in a fresh tree: the bytes must be the same.
set -eu
source_dir=$1 first=$2 again=$3
rm -rf "$again"
cmake -S "$source_dir" -B "$again" -G Ninja --toolchain "$source_dir/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$again" --target QuendRun >/dev/null
cmp "$first" "$again/QuendRun.exe"
echo "rebuilt with the same bytes: $(wc -c <"$first") bytes"
