// The working edge list of a compound: bonds in enumeration order, incidence lists
// and connected parts.
#include "enumerate/enumerate_detail.h"

void load_working_edges(const Graph& G, EnumWork& w) {
  const int nv = G.vs;
  w.nv = nv;
  w.edge.clear();
  if (w.inc_off.size() < static_cast<std::size_t>(nv) + 1) w.inc_off.resize(nv + 1);
  if (w.at.size() < static_cast<std::size_t>(nv)) w.at.resize(nv, 0);
  w.label.clear();
  if (w.comp.size() < static_cast<std::size_t>(nv)) w.comp.resize(nv);
  if (w.comp_left.size() < static_cast<std::size_t>(nv)) w.comp_left.resize(nv);
  int* off = w.inc_off.data();
  for (int i = 0; i <= nv; ++i) off[i] = 0;
  // Each bond is taken once, from its lower endpoint, so bond k is (a+1, b+1) with
  // a < b, ordered by a and then by b because adjacency lists are sorted.
  // Affects output: this is the order in which the enumeration takes bonds.
  for (int i = 0; i < nv; ++i) {
    SARVIK_ASSERT(G.vid[i] == i, "tree_freq");
    for (int j = G.v[i]; j < G.v[i + 1]; ++j) {
      const int x = G.e[j];
      SARVIK_ASSERT(x != i, "graph_tree_freq");
      if (x > i) {
        w.edge.push_back(Edge{i + 1, x + 1});
        // Lists hold no repeated pair, so this is the entry find_label reads.
        w.label.push_back(G.el[j]);
        ++off[i + 1];
        ++off[x + 1];
      }
    }
  }
  const int m = static_cast<int>(w.edge.size());
  w.ne = m;
  for (int i = 0; i < nv; ++i) off[i + 1] += off[i];
  if (w.inc_edge.size() < static_cast<std::size_t>(2 * m)) {
    w.inc_edge.resize(2 * m);
    w.inc_other.resize(2 * m);
  }
  // Fill by running positions; off[x] ends up at x's end, then is shifted back.
  for (int k = 0; k < m; ++k) {
    const int a = w.edge[k].u - 1;
    const int b = w.edge[k].v - 1;
    w.inc_edge[off[a]] = k;
    w.inc_other[off[a]++] = b;
    w.inc_edge[off[b]] = k;
    w.inc_other[off[b]++] = a;
  }
  for (int i = nv; i > 0; --i) off[i] = off[i - 1];
  off[0] = 0;
  if (m <= 64) {
    if (w.inc_mask.size() < static_cast<std::size_t>(nv)) w.inc_mask.resize(nv);
    for (int i = 0; i < nv; ++i) w.inc_mask[i] = 0;
    for (int k = 0; k < m; ++k) {
      w.inc_mask[w.edge[k].u - 1] |= std::uint64_t{1} << k;
      w.inc_mask[w.edge[k].v - 1] |= std::uint64_t{1} << k;
    }
  }

  // Connected parts by union-find with path halving; comp[x] = representative.
  int* comp = w.comp.data();
  for (int i = 0; i < nv; ++i) comp[i] = i;
  auto root = [comp](int x) {
    while (comp[x] != x) {
      comp[x] = comp[comp[x]];
      x = comp[x];
    }
    return x;
  };
  for (int k = 0; k < m; ++k) {
    const int ra = root(w.edge[k].u - 1);
    const int rb = root(w.edge[k].v - 1);
    if (ra != rb) comp[ra < rb ? rb : ra] = ra < rb ? ra : rb;
  }
  for (int i = 0; i < nv; ++i) {
    comp[i] = root(i);
    w.comp_left[i] = 0;
  }
  w.max_part = 0;
  for (int k = 0; k < m; ++k) {
    const int n = ++w.comp_left[comp[w.edge[k].u - 1]];
    if (n > w.max_part) w.max_part = n;
  }
}
