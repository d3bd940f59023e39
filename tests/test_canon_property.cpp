// Canonical labelling as a whole: invariance under renumbering and agreement
// with isomorphism, on random and highly symmetric trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "canon/cl_freq.h"
#include "driver/generate_all_trees_freq.h"
#include "test_support.h"

namespace {

using test_support::make_graph;

// A labelled tree: vertex labels, bonds (a, b, edge label) and
// its shape for failure messages.
struct Tree {
  std::vector<int> vl;
  test_support::Bonds edges;
  std::string what;
  int n() const { return static_cast<int>(vl.size()); }
};

// Rooted encoding of a labelled tree; the least over all roots names its
// isomorphism class independently of any canonical labelling.
using Adj = std::vector<std::vector<std::pair<int, int>>>;
std::string encode(const Adj& adj, const Tree& t, int v, int parent) {
  std::vector<std::string> ch;
  for (auto [u, l] : adj[v])
    if (u != parent) ch.push_back("e" + std::to_string(l) + encode(adj, t, u, v));
  std::sort(ch.begin(), ch.end());
  std::string s = "(" + std::to_string(t.vl[v]) + ":";
  for (const auto& c : ch) s += c;
  return s + ")";
}

std::string tree_class(const Tree& t) {
  Adj adj(t.n());
  for (const auto& e : t.edges) {
    adj[e[0]].push_back({e[1], e[2]});
    adj[e[1]].push_back({e[0], e[2]});
  }
  std::string best = encode(adj, t, 0, -1);
  for (int r = 1; r < t.n(); ++r) best = std::min(best, encode(adj, t, r, -1));
  return best;
}

int pick(std::mt19937& rng, int n) { return static_cast<int>(rng() % n); }

Tree random_tree(std::mt19937& rng, int n, int vlabels, int elabels) {
  Tree t{{}, {}, "random"};
  for (int k = 1; k < n; ++k) t.edges.push_back({pick(rng, k), k, pick(rng, elabels)});
  for (int k = 0; k < n; ++k) t.vl.push_back(pick(rng, vlabels));
  return t;
}

// Vertex k + 1 hangs on parent[k]; all labels 0.
Tree from_parents(const std::string& what, const std::vector<int>& parent) {
  Tree t{std::vector<int>(parent.size() + 1, 0), {}, what};
  for (std::size_t k = 0; k < parent.size(); ++k) t.edges.push_back({parent[k], static_cast<int>(k) + 1, 0});
  return t;
}

Tree star(int leaves, int leaf_label = 0) {
  Tree t = from_parents("star" + std::to_string(leaves), std::vector<int>(leaves, 0));
  std::fill(t.vl.begin() + 1, t.vl.end(), leaf_label);
  return t;
}

// Two joined centres with `leaves` equal leaves each.
Tree double_star(int leaves) {
  std::vector<int> parent(1 + 2 * leaves, 0);
  std::fill(parent.begin() + 1 + leaves, parent.end(), 1);
  return from_parents("double_star" + std::to_string(leaves), parent);
}

// Centre with `legs` legs of `len` vertices each; one leg is a path.
Tree spider(int legs, int len) {
  std::vector<int> parent;
  for (int l = 0; l < legs; ++l)
    for (int k = 0; k < len; ++k) parent.push_back(k == 0 ? 0 : static_cast<int>(parent.size()));
  return from_parents("spider" + std::to_string(legs) + "x" + std::to_string(len), parent);
}

// A random tree with bunches of equal leaves hung on some vertices, so that
// refinement leaves large parts and the individualisation search runs.
Tree bushy_tree(std::mt19937& rng, int core, int extra, int vlabels, int elabels) {
  Tree t = random_tree(rng, core, vlabels, elabels);
  t.what = "bushy";
  const int leaf_label = pick(rng, vlabels);
  for (int k = 0; k < extra; ++k) {
    t.edges.push_back({pick(rng, std::min(core, 2)), t.n(), 0});
    t.vl.push_back(leaf_label);
  }
  return t;
}

// Built by appending: GCC 12 warns falsely (-Wrestrict) on "literal" + string&&.
std::string describe(const Tree& t) {
  std::string s = t.what;
  s += " vl";
  for (int l : t.vl) s.append(" ").append(std::to_string(l));
  s += " edges";
  for (const auto& e : t.edges) {
    s.append(" ").append(std::to_string(e[0])).append("-").append(std::to_string(e[1]));
    s.append(":").append(std::to_string(e[2]));
  }
  return s;
}

std::vector<int> shuffled(std::mt19937& rng, int n) {
  std::vector<int> p(n);
  std::iota(p.begin(), p.end(), 0);
  std::shuffle(p.begin(), p.end(), rng);
  return p;
}

// The trees of the invariance test: random shapes of 2 to 8 vertices with 1 to 3
// vertex labels and 1 to 2 edge labels, and the highly symmetric shapes.
std::vector<Tree> invariance_trees() {
  std::mt19937 rng(20240611);
  std::vector<Tree> ts;
  for (int k = 0; k < 400; ++k) {
    const int n = 2 + pick(rng, 7);
    ts.push_back(random_tree(rng, n, 1 + pick(rng, 3), 1 + pick(rng, 2)));
  }
  for (int k = 0; k < 60; ++k)
    ts.push_back(bushy_tree(rng, 2 + pick(rng, 3), 4 + pick(rng, 3), 1 + pick(rng, 2), 1 + pick(rng, 2)));
  for (int leaves = 1; leaves <= 7; ++leaves) ts.push_back(star(leaves));
  ts.push_back(star(6, 1));
  ts.push_back(star(5, 2));
  for (int leaves = 1; leaves <= 3; ++leaves) ts.push_back(double_star(leaves));
  for (int n = 1; n <= 7; ++n) ts.push_back(spider(1, n));  // paths of 2 to 8 vertices
  ts.push_back(spider(3, 2));
  ts.push_back(spider(2, 3));
  return ts;
}

}  // namespace

// Renumbering a tree never changes its canonical graph or key.
TEST(CanonProperty, RenumberingKeepsCanonicalGraph) {
  test_support::SettingsGuard guard;
  std::mt19937 rng(7);
  for (const Tree& t : invariance_trees()) {
    SCOPED_TRACE(describe(t));
    Graph ref = make_graph(t.vl, t.edges);
    cl_canonicalize_graph(ref);
    for (int r = 0; r < 40; ++r) {
      Graph g = make_graph(t.vl, t.edges, shuffled(rng, t.n()));
      cl_canonicalize_graph(g);
      ASSERT_EQ(test_support::form_of(ref), test_support::form_of(g));
      ASSERT_EQ(graph_compare(ref, g), 0);
    }
  }
}

// Canonical graphs are equal exactly when the trees are isomorphic, judged by an
// independent rooted-tree encoding.
TEST(CanonProperty, CompareMatchesIsomorphism) {
  test_support::SettingsGuard guard;
  std::mt19937 rng(11);
  std::vector<Tree> ts = invariance_trees();
  std::vector<Graph> gs;
  std::vector<std::string> cls;
  for (const Tree& t : ts) {
    gs.push_back(make_graph(t.vl, t.edges, shuffled(rng, t.n())));
    cl_canonicalize_graph(gs.back());
    cls.push_back(tree_class(t));
  }
  for (std::size_t i = 0; i < gs.size(); ++i)
    for (std::size_t j = i + 1; j < gs.size(); ++j) {
      const int c = graph_compare(gs[i], gs[j]);
      EXPECT_EQ(c == 0, cls[i] == cls[j]) << cls[i] << " vs " << cls[j];
      EXPECT_EQ(c == 0, graph_compare(gs[j], gs[i]) == 0);
    }
}
