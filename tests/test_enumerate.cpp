// Fragment enumeration: the bond-set search against its order rule stated
// recursively and against a brute force over all bond subsets ("each set
// once"), tree classes against canonical forms, and the growth index against
// a map. (Fragment types and the entry into the table are checked by the golden
// cases and the check flavour.)
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "canon/cl_freq.h"
#include "canon/cl_freq_detail.h"
#include "enumerate/enumerate_detail.h"
#include "enumerate/tree_freq.h"
#include "test_support.h"

namespace {

using Bond = std::pair<int, int>;
using BondSet = std::vector<Bond>;  // node numbers (vertex + 1), in emission order

// A compound graph of nv equal atoms as the edge-list packing leaves it.
Graph make_compound(int nv, const std::vector<Bond>& bonds) {
  test_support::Bonds b;
  for (auto [x, y] : bonds) b.push_back({x, y, 0});
  return test_support::make_graph(std::vector<int>(nv, 0), b);
}

// The sets of the search, or of the search for path fragments only.
std::vector<BondSet> fast_sets(const Graph& G, int threshold, EnumWork& w, bool paths = false) {
  std::vector<BondSet> out;
  auto emit = [&](const Edge* s, int n) {
    out.emplace_back(n);
    for (int i = 0; i < n; ++i) out.back()[i] = {s[i].u, s[i].v};
  };
  enumerate_bond_sets(G, threshold, w, EmitOnly<decltype(emit)>{emit}, paths);
  return out;
}

// The sets in which no vertex has three bonds, in their order.
std::vector<BondSet> unbranched(const std::vector<BondSet>& sets) {
  std::vector<BondSet> out;
  for (const BondSet& s : sets) {
    std::map<int, int> degree;
    bool branched = false;
    for (auto [a, b] : s) branched = ++degree[a] > 2 || ++degree[b] > 2 || branched;
    if (!branched) out.push_back(s);
  }
  return out;
}

// The bonds of G in working order: ascending lower end, then higher end.
std::vector<Bond> working_bonds(const Graph& G) {
  std::vector<Bond> bonds;
  for (int u = 0; u < G.vs; ++u)
    for (int j = G.v[u]; j < G.v[u + 1]; ++j)
      if (G.e[j] > u) bonds.push_back({u + 1, G.e[j] + 1});
  return bonds;
}

// The emission order by its rule: the lowest-index undecided bond that touches
// the fragment without closing a cycle (any undecided bond while the fragment is
// empty) is taken in, and then ruled out for good.
void rule_order(const std::vector<Bond>& bonds, int t, std::vector<char>& decided,
                std::vector<int>& in, BondSet& set, std::vector<BondSet>& out) {
  if (static_cast<int>(set.size()) == t) {
    out.push_back(set);
    return;
  }
  for (std::size_t i = 0; i < bonds.size(); ++i) {
    const auto [a, b] = bonds[i];
    if (decided[i] || (!set.empty() && (in[a] > 0) == (in[b] > 0))) continue;
    decided[i] = 1;
    ++in[a];
    ++in[b];
    set.push_back(bonds[i]);
    rule_order(bonds, t, decided, in, set, out);
    set.pop_back();
    --in[a];
    --in[b];
    rule_order(bonds, t, decided, in, set, out);
    decided[i] = 0;
    return;
  }
}

std::vector<BondSet> rule_sets(const Graph& G, int t) {
  const std::vector<Bond> bonds = working_bonds(G);
  std::vector<char> decided(bonds.size(), 0);
  std::vector<int> in(G.vs + 1, 0);
  BondSet set;
  std::vector<BondSet> out;
  rule_order(bonds, t, decided, in, set, out);
  return out;
}

// Every bond subset of the size, kept if connected and acyclic.
std::vector<BondSet> brute_sets(const Graph& G, int t) {
  const std::vector<Bond> bonds = working_bonds(G);
  const int m = static_cast<int>(bonds.size());
  std::vector<BondSet> out;
  if (t < 1 || t > m) return out;
  std::vector<int> pick(t);
  for (int i = 0; i < t; ++i) pick[i] = i;
  std::vector<int> parent(G.vs + 1), seen(G.vs + 1);
  auto root = [&](int x) {
    while (parent[x] != x) x = parent[x];
    return x;
  };
  for (int stamp = 1;; ++stamp) {
    for (int i = 0; i <= G.vs; ++i) parent[i] = i;
    bool acyclic = true;
    int verts = 0;
    for (int i : pick) {
      auto [a, b] = bonds[i];
      for (int x : {a, b})
        if (seen[x] != stamp) {
          seen[x] = stamp;
          ++verts;
        }
      int ra = root(a), rb = root(b);
      if (ra == rb) acyclic = false;
      parent[ra] = rb;
    }
    if (acyclic && verts == t + 1) {
      out.emplace_back();
      for (int i : pick) out.back().push_back(bonds[i]);
    }
    int i = t - 1;
    while (i >= 0 && pick[i] == m - t + i) --i;
    if (i < 0) break;
    ++pick[i];
    for (int j = i + 1; j < t; ++j) pick[j] = pick[j - 1] + 1;
  }
  return out;
}

std::vector<BondSet> sorted_sets(std::vector<BondSet> v) {
  for (auto& s : v) std::sort(s.begin(), s.end());
  std::sort(v.begin(), v.end());
  return v;
}

// Structured and random compounds: rings, fused rings, stars, several parts,
// dense graphs, no bonds, one bond; last, a ring chain of more than 64 bonds,
// whose candidates span several words.
std::vector<std::pair<int, std::vector<Bond>>> test_compounds() {
  std::vector<std::pair<int, std::vector<Bond>>> c;
  auto ring = [](int n, int off) {
    std::vector<Bond> b;
    for (int i = 0; i < n; ++i) b.push_back({off + i, off + (i + 1) % n});
    return b;
  };
  c.push_back({3, {}});
  c.push_back({2, {{0, 1}}});
  c.push_back({6, ring(6, 0)});
  c.push_back({3, ring(3, 0)});
  std::vector<Bond> naph = ring(6, 0);
  naph.insert(naph.end(), {{5, 6}, {6, 7}, {7, 8}, {8, 9}, {9, 0}});
  c.push_back({10, naph});
  c.push_back({6, {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}}});
  std::vector<Bond> parts = ring(5, 0);
  parts.insert(parts.end(), {{5, 6}, {6, 7}, {7, 5}, {8, 9}});
  c.push_back({11, parts});
  std::vector<Bond> k5;
  for (int i = 0; i < 5; ++i)
    for (int j = i + 1; j < 5; ++j) k5.push_back({j, i});
  c.push_back({5, k5});
  std::mt19937 rng(12345);
  for (int r = 0; r < 60; ++r) {
    int n = 1 + static_cast<int>(rng() % 11);
    int density = 15 + static_cast<int>(rng() % 45);
    std::vector<Bond> b;
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j)
        if (static_cast<int>(rng() % 100) < density) b.push_back({j, i});
    std::shuffle(b.begin(), b.end(), rng);
    if (b.size() > 15) b.resize(15);
    c.push_back({n, b});
  }
  std::vector<Bond> big;
  for (int i = 0; i < 70; ++i) big.push_back({i, i + 1});
  for (int i = 0; i + 6 < 71; i += 7) big.push_back({i, i + 6});
  c.push_back({71, big});
  return c;
}

}  // namespace

TEST(EnumerateBondSets, AgreesWithTheRuleAndBruteForce) {
  EnumWork shared;  // one scratch across compounds of every size, as in a run
  for (const auto& [n, bonds] : test_compounds()) {
    Graph G = make_compound(n, bonds);
    const bool small = bonds.size() <= 15;
    for (int t = 1; t <= (small ? 8 : 5); ++t) {
      std::vector<BondSet> fast = fast_sets(G, t, shared);
      SCOPED_TRACE("vertices " + std::to_string(n) + " bonds " + std::to_string(bonds.size()) +
                   " length " + std::to_string(t));
      ASSERT_EQ(fast, rule_sets(G, t));
      // The search for paths leaves out the branched sets and nothing else.
      ASSERT_EQ(fast_sets(G, t, shared, true), unbranched(fast));
      if (!small) continue;
      std::vector<BondSet> s = sorted_sets(fast);
      ASSERT_TRUE(std::adjacent_find(s.begin(), s.end()) == s.end());
      ASSERT_EQ(s, sorted_sets(brute_sets(G, t)));
    }
  }
}

namespace {

// A random labelled tree in growth form: vertex j >= 1 hangs on par[j] < j.
struct GrowthTree {
  std::vector<int> lab, par, bl;
};

GrowthTree random_growth_tree(std::mt19937& rng, int n, int labels, int bond_labels) {
  GrowthTree t;
  t.lab.push_back(static_cast<int>(rng() % labels));
  t.par.push_back(-1);
  t.bl.push_back(0);
  for (int j = 1; j < n; ++j) {
    // Mostly hang on recent vertices or vertex 0, for stars and long chains.
    const int p = rng() % 3 == 0 ? 0 : static_cast<int>(rng() % j);
    t.lab.push_back(static_cast<int>(rng() % labels));
    t.par.push_back(p);
    t.bl.push_back(static_cast<int>(rng() % bond_labels));
  }
  return t;
}

// The same tree grown from a random vertex in a random order (each vertex after
// the one it hangs on).
GrowthTree regrown(const GrowthTree& t, std::mt19937& rng) {
  const int n = static_cast<int>(t.lab.size());
  std::vector<std::vector<std::pair<int, int>>> adj(n);  // (neighbour, bond label)
  for (int j = 1; j < n; ++j) {
    adj[j].push_back({t.par[j], t.bl[j]});
    adj[t.par[j]].push_back({j, t.bl[j]});
  }
  std::vector<int> place(n, -1);
  GrowthTree g;
  const int root = static_cast<int>(rng() % n);
  place[root] = 0;
  g.lab.push_back(t.lab[root]);
  g.par.push_back(-1);
  g.bl.push_back(0);
  std::vector<std::pair<int, int>> frontier;  // (vertex of g, its place)
  for (auto [y, l] : adj[root]) frontier.push_back({y, l});
  std::vector<int> from(n, root);
  while (!frontier.empty()) {
    const std::size_t pick = rng() % frontier.size();
    const auto [y, l] = frontier[pick];
    frontier.erase(frontier.begin() + static_cast<std::ptrdiff_t>(pick));
    place[y] = static_cast<int>(g.lab.size());
    g.lab.push_back(t.lab[y]);
    g.par.push_back(place[from[y]]);
    g.bl.push_back(l);
    for (auto [z, lz] : adj[y])
      if (place[z] < 0) {
        from[z] = y;
        frontier.push_back({z, lz});
      }
  }
  return g;
}

// Its canonical graph, an independent judge of isomorphism.
Graph canonical(const GrowthTree& t, CanonWork& w) {
  test_support::Bonds b;
  for (std::size_t j = 1; j < t.lab.size(); ++j) b.push_back({t.par[j], static_cast<int>(j), t.bl[j]});
  Graph g = test_support::make_graph(t.lab, b);
  cl_canonicalize_graph_unpruned(g, w);
  return g;
}

}  // namespace

// One class id exactly for one labelled tree, however it was grown: the same
// tree regrown from any vertex in any order keeps its class, and two trees share
// a class exactly when their canonical graphs are equal (two independent judges
// of isomorphism agree).
TEST(TreeClasses, ExactlyTheIsomorphismClasses) {
  CanonWork w;
  std::mt19937 rng(424242);
  TreeClasses tc;
  tree_classes_clear(tc);
  std::vector<GrowthTree> trees;
  for (int k = 0; k < 1500; ++k)
    trees.push_back(random_growth_tree(rng, 2 + static_cast<int>(rng() % 10),
                                       1 + static_cast<int>(rng() % 3),
                                       1 + static_cast<int>(rng() % 2)));
  std::vector<int> cls;
  std::vector<Graph> forms;
  for (const GrowthTree& t : trees) {
    const int c = tree_class(tc, static_cast<int>(t.lab.size()), t.lab.data(), t.par.data(), t.bl.data());
    for (int r = 0; r < 4; ++r) {
      const GrowthTree g = regrown(t, rng);
      ASSERT_EQ(tree_class(tc, static_cast<int>(g.lab.size()), g.lab.data(), g.par.data(), g.bl.data()), c);
    }
    cls.push_back(c);
    forms.push_back(canonical(t, w));
  }
  for (std::size_t i = 0; i < trees.size(); ++i)
    for (std::size_t j = i + 1; j < trees.size(); ++j)
      ASSERT_EQ(cls[i] == cls[j], graph_compare(forms[i], forms[j]) == 0) << i << " " << j;
}

// The growth index against a map of the same keys: nodes with a few children and
// with thousands (blocks moved again and again, spare blocks taken again), results
// written through the references it gives, and a clear between two rounds.
TEST(GrowthIndex, FindsWhatItWasGiven) {
  GrowthIndex gi;
  std::mt19937 rng(2525);
  for (int round = 0; round < 2; ++round) {
    growth_clear(gi, std::size_t{1} << 12);
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, int> seen;
    std::vector<std::uint32_t> nodes{0};
    for (int k = 0; k < 60000; ++k) {
      // Mostly one of the last few nodes, so that some get very many children.
      const std::size_t last = nodes.size() - 1 - rng() % std::min<std::size_t>(nodes.size(), 3);
      const std::uint32_t parent = nodes[rng() % 4 == 0 ? rng() % nodes.size() : last];
      const std::uint32_t code = rng() % (round == 0 ? 50 : 5000);
      if (rng() % 3 == 0) {
        const auto key = std::make_tuple(parent, code, kOneStep);
        const std::uint32_t id = growth_node(gi, parent, code);
        const auto [it, added] = seen.emplace(key, static_cast<int>(id));
        ASSERT_EQ(static_cast<int>(id), it->second);
        if (added) {
          ASSERT_EQ(id, nodes.size());  // node ids in order of first meeting
          nodes.push_back(id);
        }
      } else {
        const std::uint32_t code2 = rng() % 40;
        const auto key = std::make_tuple(parent, code, code2);
        int& result = growth_result(gi, parent, code, code2);
        const auto [it, added] = seen.emplace(key, kResultUnknown);
        ASSERT_EQ(result, it->second);
        if (added) result = it->second = k;
      }
    }
  }
}
