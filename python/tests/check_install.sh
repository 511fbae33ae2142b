#!/bin/sh
# Installs the build into a scratch prefix and imports the installed package
# with a clean environment: it must load the library installed beside it.
set -eu
build=$1
work=$2
python=$3
pydir=$4

rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
case $pydir in
    /*) site="$pydir" ;;
    *) site="$prefix/$pydir" ;;
esac

cd "$work"
env -u QUARNELO_LIBRARY -u LD_LIBRARY_PATH PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 \
    "$python" -c '
import os, sys
import numpy as np
import quarnelo
site = os.path.realpath(sys.argv[1])
loaded = os.path.realpath(quarnelo.library_path)
package = os.path.realpath(os.path.dirname(quarnelo.__file__))
assert package.startswith(site), (package, site)
assert os.path.dirname(quarnelo.library_path) == os.path.dirname(quarnelo.__file__), quarnelo.library_path
assert loaded.startswith(os.path.realpath(sys.argv[2])), (loaded, sys.argv[2])
n = quarnelo.loudness_from_levels(np.full(28, 60.0)).loudness
assert n > 0, n
print("installed package", package, "loads", loaded)
' "$site" "$prefix"
