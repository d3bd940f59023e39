// Edge-list normalisation: sort, duplicate check and packing into adjacency.
#include <string>
#include <vector>

#include "input/input.h"
#include "test_support.h"

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

TEST(EdgeList, SortsAndPacks) {
  struct Case {
    std::string what;
    int vs;
    std::vector<EdgeEntry> list;
    std::vector<int> v, e, el;
  };
  const std::vector<Case> cases = {
      {"no edges", 3, {}, {0, 0, 0, 0}, {}, {}},
      {"one vertex", 1, {}, {0, 0}, {}, {}},
      // 0-1 with label 2 and 1-2 with label 1, listed out of order.
      {"path", 3, {{2, 1, 1}, {1, 0, 2}, {1, 2, 1}, {0, 1, 2}}, {0, 1, 3, 4}, {1, 0, 2, 1}, {2, 2, 1, 1}},
      // Star around 3 with leaves 4, 0, 2 labelled by leaf; 1 and 5 isolated.
      {"star",
       6,
       {{3, 4, 4}, {4, 3, 4}, {3, 0, 0}, {0, 3, 0}, {3, 2, 2}, {2, 3, 2}},
       {0, 1, 1, 2, 5, 6, 6},
       {3, 3, 0, 2, 4, 3},
       {0, 2, 0, 2, 4, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Graph g = normalise(c.vs, c.list);
    EXPECT_EQ(g.v, c.v);
    EXPECT_EQ(g.e, c.e);
    EXPECT_EQ(g.el, c.el);
  }
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
