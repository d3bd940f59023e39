// Edge-list normalisation: sort, duplicate check and packing into adjacency.
#include <cstdio>
#include <string>
#include <vector>

#include "input/input.h"
#include "test_support.h"

using test_support::read_text;
using test_support::scratch_dir;

namespace {

// Sizes g for vs vertices and the list, then runs the three steps in order.
Graph normalise(int vs, std::vector<EdgeEntry> list) {
  Graph g;
  g.vs = vs;
  g.es = static_cast<int>(list.size());
  g.e.assign(g.es, -7);
  g.el.assign(g.es, -7);
  g.v.assign(vs + 1, -7);
  sort_edges(list.data(), g.es);
  check_duplicated_edges(list.data(), g);
  pack_edges(list.data(), g);
  return g;
}

TEST(EdgeList, CompareIsLexicographicOnHeadTailLabel) {
  EXPECT_EQ(compar_edge({0, 1, 2}, {0, 1, 2}), 0);
  EXPECT_EQ(compar_edge({0, 9, 9}, {1, 0, 0}), -1);
  EXPECT_EQ(compar_edge({1, 0, 0}, {0, 9, 9}), 1);
  EXPECT_EQ(compar_edge({1, 2, 0}, {1, 3, 0}), -1);
  EXPECT_EQ(compar_edge({1, 3, 1}, {1, 3, 0}), 1);
}

TEST(EdgeList, PacksGraphsWithoutEdges) {
  Graph g = normalise(3, {});
  EXPECT_EQ(g.v, (std::vector<int>{0, 0, 0, 0}));
  g = normalise(1, {});
  EXPECT_EQ(g.v, (std::vector<int>{0, 0}));
}

TEST(EdgeList, SortsAndPacksAPath) {
  // 0-1 with label 2 and 1-2 with label 1, listed out of order.
  const Graph g = normalise(3, {{2, 1, 1}, {1, 0, 2}, {1, 2, 1}, {0, 1, 2}});
  EXPECT_EQ(g.e, (std::vector<int>{1, 0, 2, 1}));
  EXPECT_EQ(g.el, (std::vector<int>{2, 2, 1, 1}));
  EXPECT_EQ(g.v, (std::vector<int>{0, 1, 3, 4}));
}

TEST(EdgeList, NeighboursAscendWithinEachRunAndIsolatedVerticesKeepEmptyRuns) {
  // Star around 3 plus an isolated vertex 1 and a last isolated vertex 5.
  std::vector<EdgeEntry> list;
  for (int leaf : {4, 0, 2}) {
    list.push_back({3, leaf, leaf});
    list.push_back({leaf, 3, leaf});
  }
  const Graph g = normalise(6, list);
  EXPECT_EQ(g.v, (std::vector<int>{0, 1, 1, 2, 5, 6, 6}));
  EXPECT_EQ(g.e, (std::vector<int>{3, 3, 0, 2, 4, 3}));
  EXPECT_EQ(g.el, (std::vector<int>{0, 2, 0, 2, 4, 4}));
}

TEST(EdgeList, DuplicatedEdgesEndTheRun) {
  // Two bonds between 0 and 1 with different labels.
  EXPECT_FATAL_STDOUT(normalise(2, {{0, 1, 1}, {1, 0, 1}, {0, 1, 2}, {1, 0, 2}}),
                      "duplicated edges 0 0, 1 1\n");
  // A bond from vertex 2 to itself.
  EXPECT_FATAL_STDOUT(normalise(3, {{2, 2, 0}, {2, 2, 0}}), "duplicated edges 2 2, 2 2\n");
  // Only neighbouring entries of the sorted list are compared, and only their
  // head and tail.
  EXPECT_FATAL_STDOUT(normalise(4, {{3, 1, 0}, {1, 3, 0}, {0, 1, 0}, {1, 0, 0}, {1, 3, 5},
                                    {3, 1, 5}}),
                      "duplicated edges 1 1, 3 3\n");
}

}  // namespace
