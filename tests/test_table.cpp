// The fragment hash table at its edges: probing that wraps round the end, the
// home slot of keys at and above the size, and a table with no free slot left.
#include <cstdio>
#include <string>
#include <vector>

#include "table/table.h"
#include "test_support.h"

namespace {

// One bond between vertex labels a and b, with a key set by hand: distinct pairs
// are distinct fragments.
Graph bond(int a, int b, unsigned key) {
  Graph g = test_support::make_graph({a, b}, {{0, 1, 0}});
  g.key = key;
  return g;
}

struct Table : ::testing::Test {
  OccurrenceStore occ;
  LabelSet ls;
  std::vector<int> map;
  FragmentRecords records;
  void SetUp() override {
    occurrences_init(occ, 2);
    occurrences_begin_length(occ);
    ls.vl.buf = {"C", "N", "O"};
    ls.el.buf = {"-"};
  }
};

// Descriptor ids follow slot order, which shows where each fragment was placed.
TEST_F(Table, ProbingWrapsRoundTheEnd) {
  FragmentTable t = initialize_hash(5);
  int k = 0;
  const Graph a = bond(0, 0, 4), b = bond(0, 1, 9), c = bond(1, 1, 5), d = bond(1, 2, 0);
  EXPECT_EQ(generate_hash(c, 5), 0u);  // a key equal to the size
  EXPECT_EQ(generate_hash(bond(0, 0, 0xFFFFFFFFu), 5), 0xFFFFFFFFu % 5);
  hash_graph(a, t, occ, 0);  // slot 4
  hash_graph(b, t, occ, 0);  // home 4 taken: wraps to slot 0
  hash_graph(c, t, occ, 0);  // home 0 taken: slot 1
  hash_graph(d, t, occ, 0);  // home 0: slot 2
  csr_end_length(occ, 0);
  // All four are found again by probing, from another compound.
  for (const Graph* g : {&d, &c, &b, &a}) hash_graph(*g, t, occ, 1);
  EXPECT_EQ(t.count, 4);
  sweep_length(t, SweepRule{1, Format::sd, &ls}, k, map, records);
  EXPECT_EQ(k, 4);
  EXPECT_EQ(map, std::vector<int>({-1, 4, 1, 2, 3}));
}

TEST_F(Table, FullTable) {
  FragmentTable t = initialize_hash(3);
  const Graph a = bond(0, 0, 2), b = bond(0, 1, 2), c = bond(1, 1, 2);
  hash_graph(a, t, occ, 0);
  hash_graph(b, t, occ, 0);
  hash_graph(c, t, occ, 0);
  // Every slot occupied: a known fragment is still found (one full probe round).
  hash_graph(c, t, occ, 0);
  EXPECT_EQ(t.count, 3);
  EXPECT_EQ(occ.csr[2].freq, 2u);
  const std::string full =
      "HASH TABLE FULL: INCREASE THE SIZE\nthe fragment table holds at most 3 distinct fragments "
      "over all lengths of a run: sweep fewer lengths (-lmin, -lmax), keep only path fragments "
      "(-ds PF), or split the collection into smaller runs\n";
  EXPECT_ERROR_TEXT(hash_graph(bond(2, 2, 1), t, occ, 0), full);
  // A slot released by the sweep is not free either.
  int k = 0;
  sweep_length(t, SweepRule{9, Format::sd, &ls}, k, map, records);  // no descriptor
  EXPECT_ERROR_TEXT(hash_graph(a, t, occ, 0), full);
}

}  // namespace

namespace {

// Occurrences past 2^32 of one fragment in one compound (reachable: a star of 499
// leaves holds C(499, 4) four-bond stars) are counted and written in full.
TEST_F(Table, OccurrencesPastTwoToTheThirtyTwo) {
  FragmentTable t = initialize_hash(5);
  int k = 0;
  const Graph a = bond(0, 0, 4);
  csr_end_length(occ, 0);
  hash_graph(a, t, occ, 1);
  occ.csr[0].freq = 0xFFFFFFFFu;
  hash_graph(a, t, occ, 1);
  hash_graph(a, t, occ, 1);
  EXPECT_EQ(occ.csr[0].freq, 0x100000001u);
  csr_end_length(occ, 1);
  sweep_length(t, SweepRule{1, Format::sd, &ls}, k, map, records);
  // Names are quoted, their double quotes doubled.
  std::string text;
  write_descriptor_file(occ, map, {"none", "a \"star\""}, 1,
                        [&text](std::string_view piece) { text += piece; });
  EXPECT_EQ(text, "\"none\",0\n\"a \"\"star\"\"\",1,1,4294967297\n");
}

}  // namespace
