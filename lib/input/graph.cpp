// Graph record helpers and the edge-list normalisation that turns a directed
// edge list into compressed adjacency arrays.
#include <algorithm>
#include <string>

#include "input/input.h"

namespace sarvik {

int graph_lookup_vid(int id, const Graph& g) {
  for (int i = 0; i < g.vs; ++i)
    if (g.vid[i] == id) return i;
  error("graph lookup vid : can't find a vid in a graph " + std::to_string(id) + "\n");
}

int compar_edge(const EdgeEntry& a, const EdgeEntry& b) {
  if (a.head < b.head) return -1;
  if (a.head > b.head) return 1;
  if (a.tail < b.tail) return -1;
  if (a.tail > b.tail) return 1;
  if (a.label < b.label) return -1;
  if (a.label > b.label) return 1;
  return 0;
}

void sort_edges(EdgeEntry* edge, int n) {
  // A total order on the triples: entries that compare equal are identical, so
  // any comparison sort gives the same list. Affects output (adjacency order).
  std::sort(edge, edge + n,
            [](const EdgeEntry& a, const EdgeEntry& b) { return compar_edge(a, b) < 0; });
}

void check_duplicated_edges(const EdgeEntry* edge, const Graph& g) {
  for (int i = 0; i + 1 < g.es; ++i) {
    if (edge[i].head == edge[i + 1].head && edge[i].tail == edge[i + 1].tail) {
      error("duplicated edges " + std::to_string(edge[i].head) + " " +
            std::to_string(edge[i + 1].head) + ", " + std::to_string(edge[i].tail) + " " +
            std::to_string(edge[i + 1].tail) + "\n");
    }
  }
}

void pack_edges(const EdgeEntry* edge, Graph& g) {
  const int vs = g.vs;
  std::fill(g.v.begin(), g.v.begin() + vs + 1, 0);
  // Count degrees one place up, so the running sum gives each vertex's start.
  for (int k = 0; k < g.es; ++k) {
    g.e[k] = edge[k].tail;
    g.el[k] = edge[k].label;
    ++g.v[edge[k].head + 1];
  }
  if (static_cast<int>(g.eb.size()) == g.es)
    for (int k = 0; k < g.es; ++k) g.eb[k] = edge[k].bond;
  for (int i = 1; i <= vs; ++i) g.v[i] += g.v[i - 1];
}

}  // namespace sarvik
