// Canonicalisations per second on a fixed mix of labelled trees of 2 to 8
// vertices, each given in a random numbering, the way fragments arrive.
// Usage: canon_bench [seconds [rounds [trees|stars]]]; with rounds > 0 each mix
// is run a fixed number of times instead of for a time (the stars 4 x rounds),
// for counting instructions under valgrind on a busy machine; a third argument
// runs only that mix.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "canon/cl_freq.h"
#include "tests/graph_builder.h"

using namespace sarvik;

namespace {

// The one work area of this program's thread.
CanonWork canon;

// A random tree of n vertices, or with `star` > 0 a centre with that many equal
// leaves (the shape that needs the individualisation search), randomly numbered.
Graph random_fragment(std::mt19937& rng, int n, int star = 0) {
  std::vector<std::array<int, 3>> bonds;
  if (star > 0) n = star + 1;
  for (int k = 1; k < n; ++k)
    bonds.push_back({star > 0 ? 0 : static_cast<int>(rng() % k), k, star > 0 ? 0 : static_cast<int>(rng() % 4 == 0)});
  std::vector<int> vl(n);
  for (int& l : vl) l = static_cast<int>(star == 0 && rng() % 3 == 0 ? rng() % 4 : 0);
  std::vector<int> perm(n);
  std::iota(perm.begin(), perm.end(), 0);
  std::shuffle(perm.begin(), perm.end(), rng);
  return test_support::make_graph(vl, bonds, perm);
}

// Canonicalises every graph of mix, restored in place each round, for about
// `seconds` (or `rounds` times) and prints the rate under `title`.
void run(const char* title, const std::vector<Graph>& mix, double seconds, long rounds) {
  std::vector<Graph> work = mix;
  // One untimed pass lays out the work area for the largest fragment.
  for (Graph& g : work) cl_canonicalize_graph(g, canon);
  const long long allocs0 = bench::allocations;
  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  const std::clock_t cpu_start = std::clock();
  long done = 0;
  unsigned sink = 0;
  double elapsed = 0;
  for (long round = 0; rounds > 0 ? round < rounds : elapsed < seconds; ++round) {
    for (std::size_t i = 0; i < mix.size(); ++i) {
      Graph& g = work[i];
      std::copy(mix[i].e.begin(), mix[i].e.end(), g.e.begin());
      std::copy(mix[i].el.begin(), mix[i].el.end(), g.el.begin());
      std::copy(mix[i].v.begin(), mix[i].v.end(), g.v.begin());
      std::copy(mix[i].vl.begin(), mix[i].vl.end(), g.vl.begin());
      std::copy(mix[i].vid.begin(), mix[i].vid.end(), g.vid.begin());
      cl_canonicalize_graph(g, canon);
      sink += g.key;
    }
    done += static_cast<long>(mix.size());
    elapsed = std::chrono::duration<double>(clock::now() - start).count();
  }
  // CPU time as well as wall time: the machine may be shared.
  const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  std::printf("%-28s %9ld in %.2f s (%.2f s CPU): %9.0f per CPU second, %lld allocations (check %u)\n", title,
              done, elapsed, cpu, done / cpu, bench::allocations - allocs0, sink);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
  const long rounds = argc > 2 ? std::atol(argv[2]) : 0;
  std::mt19937 rng(2024);
  std::vector<Graph> trees, stars;
  for (int k = 0; k < 4096; ++k) trees.push_back(random_fragment(rng, 2 + static_cast<int>(rng() % 7)));
  for (int leaves = 5; leaves <= 7; ++leaves) stars.push_back(random_fragment(rng, 0, leaves));
  const std::string only = argc > 3 ? argv[3] : "";
  if (only != "stars") run("random trees, 2-8 vertices", trees, seconds, rounds);
  if (only != "trees") run("stars of 5, 6, 7 leaves", stars, seconds, rounds * 4);
  return 0;
}
