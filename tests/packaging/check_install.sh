#!/bin/sh
# Installs the build into a scratch prefix and builds a small consumer
# against it twice: with find_package(quarnelo) and with pkg-config. The
# optional fifth argument holds the compiler flags of an instrumented build
# (-fsanitize=...), which a consumer of its libraries needs as well.
set -eu
build=$1
consumer=$2
work=$3
cc=$4
flags=${5:-}

rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# The tool comes with its manual page.
if [ -x "$prefix/bin/quarnelo" ] && ! grep -q '^\.TH QUARNELO 1' "$prefix/share/man/man1/quarnelo.1"; then
    echo "the quarnelo tool is installed without share/man/man1/quarnelo.1" >&2
    exit 1
fi

echo "== find_package(quarnelo)"
cmake -S "$consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
      >"$work/configure.log"
cmake --build "$work/cmake-build" >"$work/build.log"
"$work/cmake-build/consumer"
if [ -x "$work/cmake-build/consumer_static" ]; then
    "$work/cmake-build/consumer_static"
fi
if [ -x "$work/cmake-build/consumer_files" ]; then
    "$work/cmake-build/consumer_files"
fi

echo "== pkg-config quarnelo"
pcdir=$(dirname "$(find "$prefix" -name quarnelo.pc | head -n 1)")
export PKG_CONFIG_PATH="$pcdir"
libdir=$(pkg-config --variable=libdir quarnelo)
# shellcheck disable=SC2046,SC2086
"$cc" -std=c99 $flags -o "$work/pc-consumer" "$consumer/consumer.c" $(pkg-config --cflags --libs quarnelo)
LD_LIBRARY_PATH="$libdir" "$work/pc-consumer"
if pkg-config --exists quarnelo_files; then
    # shellcheck disable=SC2046,SC2086
    "$cc" -std=c99 $flags -o "$work/pc-consumer-files" "$consumer/consumer_files.c" \
        $(pkg-config --cflags --libs quarnelo_files) -lm
    LD_LIBRARY_PATH="$libdir" "$work/pc-consumer-files"
fi
if [ -f "$libdir/libquarnelo.a" ]; then
    # shellcheck disable=SC2046,SC2086
    "$cc" -std=c99 $flags -o "$work/pc-consumer-static" "$consumer/consumer.c" \
        $(pkg-config --cflags quarnelo) "$libdir/libquarnelo.a" \
        $(pkg-config --static --libs quarnelo | sed 's/-lquarnelo//')
    "$work/pc-consumer-static"
fi
