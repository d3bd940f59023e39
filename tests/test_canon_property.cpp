// Canonical labelling as a whole: invariance under renumbering, on random and
// highly symmetric trees. (That different trees get different forms is checked
// against the tree classes, in test_enumerate.)
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "canon/cl_freq.h"
#include "canon/cl_freq_detail.h"
#include "common/common.h"
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
  CanonWork w;
  std::mt19937 rng(7);
  for (const Tree& t : invariance_trees()) {
    SCOPED_TRACE(t.what);
    Graph ref = make_graph(t.vl, t.edges);
    cl_canonicalize_graph(ref, w);
    for (int r = 0; r < 40; ++r) {
      Graph g = make_graph(t.vl, t.edges, shuffled(rng, t.n()));
      cl_canonicalize_graph(g, w);
      ASSERT_EQ(test_support::form_of(ref), test_support::form_of(g));
      ASSERT_EQ(graph_compare(ref, g), 0);
    }
  }
}
