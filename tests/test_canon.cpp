// Canonical labelling on small hand-checked graphs: search results and the
// individualisation search on trees. (Key bytes are checked through the golden
// cases: the key decides the table slot and with it every descriptor id.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "canon/cl_freq.h"
#include "canon/cl_freq_detail.h"
#include "test_support.h"

using test_support::make_graph;

TEST(CanonSearch, HandCheckedOrders) {
  CanonWork w;

  // One bond of equal ends: both orders give one matrix, the starting one stays.
  Graph bond = make_graph({0, 0}, {{0, 1, 0}});
  cl_canonicalize_graph(bond, w);
  EXPECT_EQ(bond.vid, (std::vector<int>{0, 1}));
  EXPECT_EQ(bond.key, 381298450u);

  // Three bonds of equal labels: inner, inner, the end on the first inner, the
  // other end.
  Graph path = make_graph({0, 0, 0, 0}, {{0, 1, 0}, {1, 2, 0}, {2, 3, 0}});
  cl_canonicalize_graph(path, w);
  EXPECT_EQ(path.vid, (std::vector<int>{1, 2, 0, 3}));
  EXPECT_EQ(path.v, (std::vector<int>{0, 2, 4, 5, 6}));
  EXPECT_EQ(path.e, (std::vector<int>{1, 2, 0, 3, 0, 1}));
  Graph path2 = make_graph({0, 0, 0, 0}, {{3, 1, 0}, {1, 0, 0}, {0, 2, 0}});
  cl_canonicalize_graph(path2, w);
  EXPECT_EQ(path2.vid, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(graph_compare(path, path2), 0);

  // Three labels in a chain: discrete at once, middle first, then the ends by
  // ascending label.
  Graph chain = make_graph({2, 0, 1}, {{0, 1, 0}, {1, 2, 0}});
  cl_canonicalize_graph(chain, w);
  EXPECT_EQ(chain.vid, (std::vector<int>{1, 2, 0}));
  EXPECT_EQ(chain.vl, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(chain.e, (std::vector<int>{1, 2, 0, 0}));

  // Four equal leaves split by edge labels: those bonded with 0 come first.
  Graph star = make_graph({0, 0, 0, 0, 0}, {{0, 1, 1}, {0, 2, 0}, {0, 3, 1}, {0, 4, 0}});
  cl_canonicalize_graph(star, w);
  EXPECT_EQ(star.vid[0], 0);
  EXPECT_EQ(star.e, (std::vector<int>{1, 2, 3, 4, 0, 0, 0, 0}));
  EXPECT_EQ(star.el, (std::vector<int>{0, 0, 1, 1, 0, 0, 1, 1}));
  EXPECT_EQ(star.vid, (std::vector<int>{0, 2, 4, 3, 1}));
}

// Parts of five or more equal vertices take the individualisation search. On a
// tree its first branch decides: every field equals the full search's, the form
// is reported numbering-dependent, and a star of twelve equal leaves (12! leaves
// for the full search) is canonicalised at once. A ring of five is no tree: its
// search runs in full.
TEST(CanonSearch, IndividualisationOnTreesTakesTheFirstBranch) {
  CanonWork w;
  auto star = [](int leaves) {
    test_support::Bonds b;
    for (int k = 1; k <= leaves; ++k) b.push_back({0, k, 0});
    return make_graph(std::vector<int>(leaves + 1, 0), b);
  };
  // Two centres with three equal leaves each: one part of six leaves.
  Graph twins = make_graph(std::vector<int>(8, 0),
                           {{0, 1, 0}, {0, 2, 0}, {0, 3, 0}, {0, 4, 0}, {4, 5, 0}, {4, 6, 0}, {4, 7, 0}});
  Graph ring = make_graph(std::vector<int>(5, 0), {{0, 1, 0}, {1, 2, 0}, {2, 3, 0}, {3, 4, 0}, {4, 0, 0}});
  for (Graph g : {star(5), star(8), twins, ring}) {
    Graph full = g;
    EXPECT_FALSE(cl_canonicalize_graph(g, w));
    EXPECT_FALSE(cl_canonicalize_graph_unpruned(full, w));
    EXPECT_EQ(test_support::fields_of(g), test_support::fields_of(full));
  }
  Graph big = star(12);
  cl_canonicalize_graph(big, w);
  EXPECT_EQ(big.v[1], 12);  // the centre first, bonded to every leaf
  for (int k = 1; k <= 12; ++k) EXPECT_EQ(big.e[big.v[k]], 0);
}
