#!/usr/bin/env bash
# Builds Sarvik and runs it on the bundled example, an SD file of 47 compounds.
# The outputs go to build/example/: cdk2.out (descriptor file) and cdk2_frag.sdf
# (descriptor fragments).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j "${JOBS:-2}" --target Sarvik
mkdir -p build/example
cp examples/cdk2.sdf build/example/cdk2.sdf
cd build/example
../release/Sarvik cdk2.sdf
echo
echo "== first lines of build/example/cdk2.out (cut at 150 characters) =="
head -n 3 cdk2.out | cut -c 1-150
echo "== first record of build/example/cdk2_frag.sdf =="
sed -n '1,/^\$\$\$\$/p' cdk2_frag.sdf
