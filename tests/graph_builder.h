// Builds graphs the way edge-list packing leaves them, for the tests and the
// benchmarks (this header needs no test framework).
#pragma once

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "common/common.h"

namespace test_support {

// Bonds (a, b, label) between 0-based vertices.
using Bonds = std::vector<std::array<int, 3>>;

// A graph as edge-list packing leaves it: vertex perm[i] (i when perm is empty)
// carries vl[i] and the bonds of vertex i; adjacency sorted by neighbour, both
// directions; vid[k] = k.
inline sarvik::Graph make_graph(const std::vector<int>& vl, const Bonds& bonds,
                        const std::vector<int>& perm = {}) {
  const int n = static_cast<int>(vl.size());
  auto at = [&](int i) { return perm.empty() ? i : perm[i]; };
  std::vector<std::vector<std::pair<int, int>>> adj(n);
  sarvik::Graph g;
  g.vs = n;
  g.es = 2 * static_cast<int>(bonds.size());
  g.vl.resize(n);
  for (int i = 0; i < n; ++i) g.vl[at(i)] = vl[i];
  for (const auto& b : bonds) {
    adj[at(b[0])].push_back({at(b[1]), b[2]});
    adj[at(b[1])].push_back({at(b[0]), b[2]});
  }
  g.v.push_back(0);
  for (int i = 0; i < n; ++i) {
    std::sort(adj[i].begin(), adj[i].end());
    for (auto [u, l] : adj[i]) {
      g.e.push_back(u);
      g.el.push_back(l);
    }
    g.v.push_back(static_cast<int>(g.e.size()));
    g.vid.push_back(i);
  }
  return g;
}

}  // namespace test_support
