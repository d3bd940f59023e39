# Sourced by the benchmark scripts, from the checkout's root with $root and $work
# set: builds Sarvik in build/bench (sets $sarvik), enters $work and makes the data
# sets there once (bench/make_data.py; again when that script changes).
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DSARVIK_TESTS=OFF >/dev/null
cmake --build build/bench -j "${JOBS:-2}" --target Sarvik >/dev/null
sarvik="$root/build/bench/Sarvik"

mkdir -p "$work"
cd "$work"
stamp="$(sha256sum "$root/bench/make_data.py" | cut -d' ' -f1)"
if [ ! -s nci5k.sdf ] || [ ! -s nci50k.sdf ] || [ "$(cat data.stamp 2>/dev/null)" != "$stamp" ]; then
  echo "making data sets (about a minute)"
  /usr/bin/python3 "$root/bench/make_data.py" .
  echo "$stamp" > data.stamp
fi
