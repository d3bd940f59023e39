// The working edge list of a compound: bonds in enumeration order, incidence lists
// or masks, and connected parts.
#include "enumerate/enumerate_detail.h"

namespace sarvik {

void load_working_edges(const Graph& G, EnumWork& w) {
  const int nv = G.vs;
  const std::size_t n = static_cast<std::size_t>(nv);
  w.nv = nv;
  if (w.at.size() < n) {
    w.at.resize(n, 0);
    w.degree.resize(n, 0);
  }
  if (w.comp.size() < n) w.comp.resize(n);
  if (w.comp_left.size() < n) w.comp_left.resize(n);
  if (w.inc_mask.size() < n) w.inc_mask.resize(n);
  if (w.inc_off.size() < n + 1) w.inc_off.resize(n + 1);
  // Room for every bond: the lists hold each bond twice.
  const std::size_t most = static_cast<std::size_t>(G.es) / 2;
  if (w.edge.size() < most) {
    w.edge.resize(most);
    w.label.resize(most);
  }
  Edge* edge = w.edge.data();
  int* label = w.label.data();
  std::uint64_t* mask = w.inc_mask.data();
  for (int i = 0; i < nv; ++i) mask[i] = 0;
  // Each bond is taken once, from its lower endpoint, so bond k is (a+1, b+1) with
  // a < b, ordered by a and then by b because adjacency lists are sorted.
  // Affects output: this is the order in which the enumeration takes bonds.
  int m = 0;
  for (int i = 0; i < nv; ++i) {
    SARVIK_ASSERT(G.vid.empty() || G.vid[i] == i, "graph_tree_freq");
    for (int j = G.v[i]; j < G.v[i + 1]; ++j) {
      const int x = G.e[j];
      SARVIK_ASSERT(x != i, "graph_tree_freq");
      if (x > i) {
        SARVIK_ASSERT(static_cast<std::size_t>(m) < most, "graph_tree_freq");
        edge[m] = Edge{i + 1, x + 1};
        // Lists hold no repeated pair, so this is the entry find_label reads.
        label[m] = G.el[j];
        if (m < 64) {
          mask[i] |= std::uint64_t{1} << m;
          mask[x] |= std::uint64_t{1} << m;
        }
        ++m;
      }
    }
  }
  w.ne = m;
  if (m > 64) {
    // Incidence lists for the word-by-word search. Filled by running positions:
    // off[x] ends up at x's end, then is shifted back.
    int* off = w.inc_off.data();
    for (int i = 0; i <= nv; ++i) off[i] = 0;
    for (int k = 0; k < m; ++k) {
      ++off[edge[k].u];
      ++off[edge[k].v];
    }
    for (int i = 0; i < nv; ++i) off[i + 1] += off[i];
    if (w.inc_edge.size() < static_cast<std::size_t>(2 * m)) {
      w.inc_edge.resize(2 * m);
      w.inc_other.resize(2 * m);
    }
    for (int k = 0; k < m; ++k) {
      const int a = edge[k].u - 1;
      const int b = edge[k].v - 1;
      w.inc_edge[off[a]] = k;
      w.inc_other[off[a]++] = b;
      w.inc_edge[off[b]] = k;
      w.inc_other[off[b]++] = a;
    }
    for (int i = nv; i > 0; --i) off[i] = off[i - 1];
    off[0] = 0;
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
    const int ra = root(edge[k].u - 1);
    const int rb = root(edge[k].v - 1);
    if (ra != rb) comp[ra < rb ? rb : ra] = ra < rb ? ra : rb;
  }
  for (int i = 0; i < nv; ++i) {
    comp[i] = root(i);
    w.comp_left[i] = 0;
  }
  w.max_part = 0;
  for (int k = 0; k < m; ++k) {
    const int c = ++w.comp_left[comp[edge[k].u - 1]];
    if (c > w.max_part) w.max_part = c;
  }
}

}  // namespace sarvik
