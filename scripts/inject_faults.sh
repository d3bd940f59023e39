#!/usr/bin/env bash
# Injects twenty one-line faults into code that decides the output, one at a time:
# applies the fault, builds the release flavour, runs its tests, restores the
# file. A fault the tests miss is reported as MISSED and makes the exit status 1.
# Usage: scripts/inject_faults.sh [source folder (default: this checkout)]
# The build tree is <source folder>/build/faults; JOBS sets the parallelism.
set -uo pipefail
src="$(cd "${1:-$(dirname "$0")/..}" && pwd)"
build="$src/build/faults"
jobs="${JOBS:-2}"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSARVIK_WERROR=ON > /dev/null || exit 2
cmake --build "$build" -j "$jobs" > /dev/null || exit 2

# name @ file @ line as it stands @ the faulty line (fields split at @)
faults=(
"tie-break: a later equal order replaces the best@lib/canon/cl_freq.cpp@      if (compare_orders(m, best, part, part) > 0) copy_adjmat_perm(m, best);@      if (compare_orders(m, best, part, part) >= 0) copy_adjmat_perm(m, best);"
"comparison: vertices by ascending degree@lib/canon/cl_freq.cpp@  if (a.d != b.d) return a.d > b.d ? -1 : 1;@  if (a.d != b.d) return a.d < b.d ? -1 : 1;"
"emission order: highest candidate bond first@lib/enumerate/enumerate_detail.h@    cand[d] = cd & (cd - 1);@    { const int hi = 63 - std::countl_zero(cd); cand[d] = cd & ~(std::uint64_t{1} << hi); return hi; }"
"probe step: the home slot is skipped@lib/table/table.cpp@  std::uint64_t free = ~occ[w] & (~std::uint64_t{0} << (start & 63));@  std::uint64_t free = ~occ[w] & (~std::uint64_t{0} << ((start + 1) & 63));"
"key byte: a zero byte fed as 1@lib/canon/cl_freq.cpp@inline unsigned key_step0(unsigned h) { return h ^ ((h << 5) + (h >> 3)); }@inline unsigned key_step0(unsigned h) { return h ^ ((h << 5) + (h >> 3) + 1); }"
"label rank: labels ranked in descending byte order@lib/input/labelset.cpp@  return element.compare(key);@  return key.compare(element);"
"CR rule: a carriage return before the newline kept@lib/input/line_reader.cpp@    if (end > off && text[end - 1] == '\\r') --end;@    if (false && end > off && text[end - 1] == '\\r') --end;"
"bond-type mapping: Mol2 types 2 and 3 swapped@lib/common/common.h@    {\"-\", 1, \"1\"}, {\"=\", 2, \"2\"}, {\"#\", 3, \"3\"}, {\"~\", 4, \"ar\"}, {\"*\", 0, \"am\"}};@    {\"-\", 1, \"1\"}, {\"=\", 2, \"3\"}, {\"#\", 3, \"2\"}, {\"~\", 4, \"ar\"}, {\"*\", 0, \"am\"}};"
"count: a compound counted twice@lib/table/table.cpp@    ++f.count;@    f.count += 2;"
"name rule: a Mol2 name starting with * kept@lib/input/mol2_reader.cpp@  if (m.name_line.empty() || m.name_line[0] == '*') return std::to_string(position);@  if (m.name_line.empty()) return std::to_string(position);"
"earliest failure: of runs of records read side by side, the last failing one reported@lib/input/load.cpp@  for (const std::exception_ptr& f : failure)@  for (const std::exception_ptr& f : std::vector<std::exception_ptr>(failure.rbegin(), failure.rend()))"
"part lines: record starts of later parts of the first pass not moved on@lib/input/reader_common.cpp@      at.line += all.lines;@      at.line += 0;"
"hand-over: the fragments a chunk meets first given ids in reverse order@lib/run/parallel_length.cpp@    for (const auto& [i, key] : ch.firsts) {@    for (const auto& [i, key] : std::vector<std::pair<int, unsigned>>(ch.firsts.rbegin(), ch.firsts.rend())) {"
"hand-over: a worker counts a compound twice for a fragment's frequency@lib/run/parallel_length.cpp@    ++count[x];@    count[x] += 2;"
"sweep beside the next length: descriptor ids in fragment-id order@lib/table/table.cpp@    order[i] = static_cast<std::uint64_t>(fragments[i].slot) << 32 | i;@    order[i] = static_cast<std::uint64_t>(fragments[i].id) << 32 | i;"
"spilled lists: a block's lists found one compound late@lib/table/table.cpp@  if (compound % kOccurrenceBlock == 0) l.block_at.push_back(occ.spill.size);@  if ((compound + 1) % kOccurrenceBlock == 0) l.block_at.push_back(occ.spill.size);"
"byte sum: a part's bytes placed by their offset in the part, not in the file@lib/input/line_reader.cpp@      v |= static_cast<std::uint64_t>(static_cast<unsigned char>(data[p - at])) << (8 * (p - lo));@      v |= static_cast<std::uint64_t>(static_cast<unsigned char>(data[p - at])) << (8 * ((p - at) % 8));"
"streamed space: the first pair of every compound but a chunk's first dropped@lib/run/space_stream.cpp@      const std::size_t begin = k == 0 ? 0 : ev.ends[k - 1];@      const std::size_t begin = k == 0 ? 0 : ev.ends[k - 1] + 1;"
"held space: its atom labels not ranked anew in the run's label set@lib/run/space.cpp@    for (int i = 0; i < g.vs; ++i) g.vl[i] = atom[static_cast<std::size_t>(g.vl[i])];@    for (int i = 0; i < g.vs; ++i) g.vl[i] = g.vl[i] + 0 * atom[0];"
"space in the making: a length's records titled one on@lib/run/space.cpp@    append_form(space.records, g, records.records[k].id, records.records[k].key);@    append_form(space.records, g, records.records[k].id + 1, records.records[k].key);"
)

missed=0
printf '| fault | file:line | result |\n|---|---|---|\n'
for f in "${faults[@]}"; do
  IFS='@' read -r name file old new <<< "$f"
  path="$src/$file"
  line=$(grep -nxF -- "$old" "$path" | cut -d: -f1)
  if [ "$(grep -cxF -- "$old" "$path")" != 1 ]; then
    printf '| %s | %s | line not found once: not run |\n' "$name" "$file"
    missed=1
    continue
  fi
  cp "$path" "$path.orig"
  trap 'mv -f "$path.orig" "$path"; touch "$path"' EXIT INT TERM
  OLD="$old" NEW="$new" perl -0pi -e 's/^\Q$ENV{OLD}\E$/$ENV{NEW}/m' "$path"
  if ! cmake --build "$build" -j "$jobs" > "$build/fault.log" 2>&1; then
    result="caught: the build fails"
  else
    ctest --test-dir "$build" -j "$jobs" > "$build/fault.log" 2>&1
    failed=$(grep -o '[0-9]* tests failed out of [0-9]*' "$build/fault.log")
    if [ -n "$failed" ]; then
      result="caught: $failed"
    else
      result="MISSED"
      missed=1
    fi
  fi
  mv -f "$path.orig" "$path"
  # Newer than the faulty build's objects, so that the next build compiles the
  # file as it is again (the copy kept the time of the copying).
  touch "$path"
  trap - EXIT INT TERM
  printf '| %s | %s:%s | %s |\n' "$name" "$file" "$line" "$result"
done
# Back to the code as it is.
cmake --build "$build" -j "$jobs" > /dev/null
exit $missed
