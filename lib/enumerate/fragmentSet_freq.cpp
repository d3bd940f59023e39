// Materialisation of one bond set as a fragment graph, and the fragment type test.
#include <string>

#include "enumerate/enumerate_detail.h"

namespace sarvik {

int find_label(const Edge& s, const Graph& G) {
  const int a = s.u - 1;
  const int b = s.v - 1;
  const int lo = a < b ? a : b;
  for (int j = G.v[lo]; j < G.v[lo + 1]; ++j)
    if (G.e[j] == a || G.e[j] == b) return G.el[j];
  SARVIK_ASSERT(0, "fragmentSet_freq");
}

void create_graph_from_set(const Edge* s, int n, const Graph& G, FragWork& fw, Graph& g) {
  SARVIK_ASSERT(n != 0, "fragmentSet_freq");
  if (fw.map.size() < static_cast<std::size_t>(G.vs)) fw.map.resize(G.vs, -1);
  int* map = fw.map.data();
  fw.touched.clear();
  for (int i = 0; i < n; ++i) {
    SARVIK_ASSERT(s[i].u - 1 < G.vs, "fragmentSet_freq");
    SARVIK_ASSERT(s[i].v - 1 < G.vs, "fragmentSet_freq");
    for (int x : {s[i].u - 1, s[i].v - 1}) {
      if (map[x] == -1) {
        map[x] = 0;
        fw.touched.push_back(x);
      }
    }
  }
  // Fragment vertices follow ascending compound vertex order. Affects output.
  int* t = fw.touched.data();
  const int vs = static_cast<int>(fw.touched.size());
  for (int i = 1; i < vs; ++i) {
    const int x = t[i];
    int j = i;
    for (; j > 0 && t[j - 1] > x; --j) t[j] = t[j - 1];
    t[j] = x;
  }
  const int es = 2 * n;
  g.vs = vs;
  g.es = es;
  g.vid.resize(vs);
  g.vl.resize(vs);
  g.v.resize(vs + 1);
  g.e.resize(es);
  g.el.resize(es);
  for (int k = 0; k < vs; ++k) {
    map[t[k]] = k;
    g.vid[k] = k;
    g.vl[k] = G.vl[t[k]];
  }

  // Both directions of each bond, placed by head (a counting sort), then each
  // head's run ordered by (tail, label): the arrays the sorted-list packing gives.
  int* v = g.v.data();
  for (int k = 0; k <= vs; ++k) v[k] = 0;
  for (int i = 0; i < n; ++i) {
    ++v[map[s[i].u - 1] + 1];
    ++v[map[s[i].v - 1] + 1];
  }
  for (int k = 0; k < vs; ++k) v[k + 1] += v[k];
  if (fw.fill.size() < static_cast<std::size_t>(vs)) fw.fill.resize(vs);
  int* fill = fw.fill.data();
  for (int k = 0; k < vs; ++k) fill[k] = v[k];
  int* e = g.e.data();
  int* el = g.el.data();
  for (int i = 0; i < n; ++i) {
    const int l = find_label(s[i], G);
    const int a = map[s[i].u - 1];
    const int b = map[s[i].v - 1];
    e[fill[a]] = b;
    el[fill[a]++] = l;
    e[fill[b]] = a;
    el[fill[b]++] = l;
  }
  for (int k = 0; k < vs; ++k) {
    for (int i = v[k] + 1; i < v[k + 1]; ++i) {
      const int x = e[i];
      const int lx = el[i];
      int j = i;
      for (; j > v[k] && (e[j - 1] > x || (e[j - 1] == x && el[j - 1] > lx)); --j) {
        e[j] = e[j - 1];
        el[j] = el[j - 1];
      }
      e[j] = x;
      el[j] = lx;
    }
    for (int i = v[k]; i + 1 < v[k + 1]; ++i) {
      if (e[i] == e[i + 1]) {
        error("duplicated edges " + std::to_string(k) + " " + std::to_string(k) + ", " +
              std::to_string(e[i]) + " " + std::to_string(e[i + 1]) + "\n");
      }
    }
  }
  for (int k = 0; k < vs; ++k) map[t[k]] = -1;
}

bool fragment_is_branched(const Graph& g) {
  for (int i = 0; i < g.vs; ++i)
    if (g.v[i + 1] - g.v[i] > 2) return true;
  return false;
}

bool fragment_passes(const Graph& g, int opt) {
  switch (opt) {
    case kFragmentsAll:
      return true;
    case kFragmentsTrees:
      return fragment_is_branched(g);
    case kFragmentsPaths:
      return !fragment_is_branched(g);
    default:
      error("Option not valid\n");
  }
}

}  // namespace sarvik
