// Canonical labelling on small hand-checked graphs: key bytes, search results,
// and the individualisation search on trees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "canon/cl_freq.h"
#include "canon/cl_freq_detail.h"
#include "test_support.h"

using test_support::make_graph;

namespace {

// The key over explicit bytes, bytes read as signed.
unsigned key_of_bytes(const std::vector<unsigned char>& bytes) {
  unsigned h = static_cast<unsigned>(bytes.size());
  for (unsigned char b : bytes) {
    const int c = b < 128 ? b : b - 256;
    h ^= (h << 5) + (h >> 3) + static_cast<unsigned>(c);
  }
  return h;
}

std::vector<unsigned char> le_bytes(const std::vector<int>& ints) {
  std::vector<unsigned char> out;
  for (int x : ints)
    for (int b = 0; b < 4; ++b) out.push_back(static_cast<unsigned char>(static_cast<unsigned>(x) >> (8 * b)));
  return out;
}

Graph single_bond() {
  Graph g = make_graph({0, 0}, {{0, 1, 0}});
  return g;
}

}  // namespace

TEST(CanonKey, SingleBondAndSignedBytes) {
  Graph g = single_bond();
  EXPECT_EQ(graph_hash_key(g), 381298450u);
  // 9 ints of 4 bytes.
  EXPECT_EQ(key_of_bytes(le_bytes({1, 0, 0, 1, 2, 0, 0, 0, 0})), 381298450u);

  // A label of 255 lays down the byte 0xFF, which counts as -1; -1 lays down four.
  g.vl[1] = 255;
  EXPECT_EQ(graph_hash_key(g), key_of_bytes(le_bytes({1, 0, 0, 1, 2, 0, 0, 0, 255})));
  g.vl[1] = 0;
  g.el = {-1, -1};
  EXPECT_EQ(graph_hash_key(g), key_of_bytes(le_bytes({1, 0, 0, 1, 2, -1, -1, 0, 0})));
  unsigned unsigned_bytes = 4 * 9;
  for (unsigned char b : le_bytes({1, 0, 0, 1, 2, -1, -1, 0, 0}))
    unsigned_bytes ^= (unsigned_bytes << 5) + (unsigned_bytes >> 3) + b;
  EXPECT_NE(graph_hash_key(g), unsigned_bytes);
}

TEST(CanonSearch, HandCheckedOrders) {
  test_support::SettingsGuard guard;

  // One bond of equal ends: both orders give one matrix, the starting one stays.
  Graph bond = make_graph({0, 0}, {{0, 1, 0}});
  cl_canonicalize_graph(bond);
  EXPECT_EQ(bond.vid, (std::vector<int>{0, 1}));
  EXPECT_EQ(bond.key, 381298450u);

  // Three bonds of equal labels: inner, inner, the end on the first inner, the
  // other end.
  Graph path = make_graph({0, 0, 0, 0}, {{0, 1, 0}, {1, 2, 0}, {2, 3, 0}});
  cl_canonicalize_graph(path);
  EXPECT_EQ(path.vid, (std::vector<int>{1, 2, 0, 3}));
  EXPECT_EQ(path.v, (std::vector<int>{0, 2, 4, 5, 6}));
  EXPECT_EQ(path.e, (std::vector<int>{1, 2, 0, 3, 0, 1}));
  Graph path2 = make_graph({0, 0, 0, 0}, {{3, 1, 0}, {1, 0, 0}, {0, 2, 0}});
  cl_canonicalize_graph(path2);
  EXPECT_EQ(path2.vid, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(graph_compare(path, path2), 0);

  // Three labels in a chain: discrete at once, middle first, then the ends by
  // ascending label.
  Graph chain = make_graph({2, 0, 1}, {{0, 1, 0}, {1, 2, 0}});
  cl_canonicalize_graph(chain);
  EXPECT_EQ(chain.vid, (std::vector<int>{1, 2, 0}));
  EXPECT_EQ(chain.vl, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(chain.e, (std::vector<int>{1, 2, 0, 0}));

  // Four equal leaves split by edge labels: those bonded with 0 come first.
  Graph star = make_graph({0, 0, 0, 0, 0}, {{0, 1, 1}, {0, 2, 0}, {0, 3, 1}, {0, 4, 0}});
  cl_canonicalize_graph(star);
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
  test_support::SettingsGuard guard;
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
    EXPECT_FALSE(cl_canonicalize_graph(g));
    EXPECT_FALSE(cl_canonicalize_graph_unpruned(full));
    EXPECT_EQ(test_support::fields_of(g), test_support::fields_of(full));
  }
  Graph big = star(12);
  cl_canonicalize_graph(big);
  EXPECT_EQ(big.v[1], 12);  // the centre first, bonded to every leaf
  for (int k = 1; k <= 12; ++k) EXPECT_EQ(big.e[big.v[k]], 0);
}
