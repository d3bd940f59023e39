// Throughput of the fragment enumeration on a real SD file: bond sets per second
// for the search alone, with fragment graphs built, and through the whole path
// (type filter, canonical labelling, fragment table).
// Usage: enumerate_bench [file.sdf] [max length] [repeats]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "canon/cl_freq.h"
#include "common/common.h"
#include "enumerate/enumerate_detail.h"
#include "enumerate/tree_freq.h"
#include "input/input.h"
#include "table/table.h"

using namespace sarvik;

int main(int argc, char** argv) {
  std::string src = argc > 1 ? argv[1] : "/usr/share/RDKit/Contrib/Fastcluster/testdata/cdk2.sdf";
  const int lmax = argc > 2 ? std::atoi(argv[2]) : 7;
  const int repeats = argc > 3 ? std::atoi(argv[3]) : 5;

  const Source source{src, Format::sd, std::nullopt};
  LoadRequest request;
  request.input = &source;
  Loaded loaded;
  read_compounds(request, loaded);
  const std::vector<Graph>& G = loaded.G;
  long long bonds = 0;
  for (const Graph& g : G) bonds += g.es / 2;
  std::printf("%s: %zu compounds, %lld bonds, lengths 1..%d, %d repeats\n", src.c_str(),
              G.size(), bonds, lmax, repeats);

  EnumWork w;
  CanonWork canon;
  long long sets = 0;
  long long allocs0 = bench::allocations;
  auto t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < repeats; ++r)
    for (int t = 1; t <= lmax; ++t)
      for (const Graph& g : G) enumerate_bond_sets_emit(g, t, w, [&](const Edge*, int) { ++sets; });
  double s = bench::seconds_since(t0);
  std::printf("search only:        %lld sets in %.3f s, %.2f M sets/s, %lld allocations\n", sets,
              s, sets / s / 1e6, bench::allocations - allocs0);

  FragWork fw;
  Graph frag;
  long long passed = 0;
  sets = 0;
  allocs0 = bench::allocations;
  t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < repeats; ++r)
    for (int t = 1; t <= lmax; ++t)
      for (const Graph& g : G)
        enumerate_bond_sets_emit(g, t, w, [&](const Edge* e, int n) {
          create_graph_from_set(e, n, g, fw, frag);
          passed += frag.vs;
          ++sets;
        });
  s = bench::seconds_since(t0);
  std::printf("search + graphs:    %lld sets in %.3f s, %.2f M sets/s, %lld allocations\n", sets,
              s, sets / s / 1e6, bench::allocations - allocs0);

  sets = 0;
  t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < repeats; ++r)
    for (int t = 1; t <= lmax; ++t)
      for (const Graph& g : G)
        enumerate_bond_sets_emit(g, t, w, [&](const Edge* e, int n) {
          create_graph_from_set(e, n, g, fw, frag);
          cl_canonicalize_graph(frag, canon);
          passed += static_cast<long long>(frag.key & 1);
          ++sets;
        });
  s = bench::seconds_since(t0);
  std::printf("+ canonical form:   %lld sets in %.3f s, %.2f M sets/s\n", sets, s, sets / s / 1e6);

  // The whole per-compound path as a run drives it, one sweep.
  FragmentTable hashg = initialize_hash();
  OccurrenceStore occ;
  occurrences_init(occ, static_cast<int>(G.size()));
  std::vector<int> map;
  FragmentRecords records;
  Workspace ws;
  int k = 0;
  sets = 0;
  for (int t = 1; t <= lmax; ++t)
    for (const Graph& g : G) enumerate_bond_sets_emit(g, t, w, [&](const Edge*, int) { ++sets; });
  t0 = std::chrono::steady_clock::now();
  LengthContext cx;
  cx.ls = &loaded.ls;
  for (cx.threshold = 1; cx.threshold <= lmax; ++cx.threshold) {
    occurrences_begin_length(occ);
    for (int i = 0; i < static_cast<int>(G.size()); ++i) {
      find_all_spanning(G[i], i, cx, hashg, occ, ws);
      csr_end_length(occ, i);
    }
    sweep_length(hashg, SweepRule{1, Format::sd, &loaded.ls}, k, map, records);
  }
  s = bench::seconds_since(t0);
  std::printf("find_all_spanning:  %lld sets in %.3f s, %.2f M sets/s, %d fragments\n", sets, s,
              sets / s / 1e6, hashg.count);
  std::printf("(checksum %lld)\n", passed);
  return 0;
}
