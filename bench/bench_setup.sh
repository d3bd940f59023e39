# Sourced by the benchmark scripts, from the checkout's root with $root and $work
# set: builds Sarvik in build/bench (sets $sarvik), enters $work and makes the data
# sets there once (with bench/$data_maker, default make_data.py, the files
# $data_files, default nci5k.sdf and nci50k.sdf; again when that script changes).
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DSARVIK_TESTS=OFF >/dev/null
cmake --build build/bench -j "${JOBS:-2}" --target Sarvik >/dev/null
sarvik="$root/build/bench/Sarvik"

data_maker="${data_maker:-make_data.py}"
data_files="${data_files:-nci5k.sdf nci50k.sdf}"
mkdir -p "$work"
cd "$work"
stamp="$(sha256sum "$root/bench/$data_maker" | cut -d' ' -f1)"
made=1
for f in $data_files; do [ -s "$f" ] || made=0; done
if [ "$made" = 0 ] || [ "$(cat data.stamp 2>/dev/null)" != "$stamp" ]; then
  echo "making the data sets (bench/$data_maker: a few minutes at most)"
  /usr/bin/python3 "$root/bench/$data_maker" .
  echo "$stamp" > data.stamp
fi
