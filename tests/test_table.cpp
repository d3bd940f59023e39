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
  test_support::SettingsGuard guard;
  void SetUp() override {
    threshold = 1;
    csr.assign(2, {});
    csrcount.assign(2, CSRcount{0, CSR_LEN, 0});
    ls.vl.buf = {"C", "N", "O"};
    ls.el.buf = {"-"};
  }
};

// Descriptor ids follow slot order, which shows where each fragment was placed.
TEST_F(Table, ProbingWrapsRoundTheEnd) {
  FragmentTable t = initialize_hash(5);
  int count = 0, k = 0;
  const Graph a = bond(0, 0, 4), b = bond(0, 1, 9), c = bond(1, 1, 5), d = bond(1, 2, 0);
  EXPECT_EQ(generate_hash(c, 5), 0u);  // a key equal to the size
  EXPECT_EQ(generate_hash(bond(0, 0, 0xFFFFFFFFu), 5), 0xFFFFFFFFu % 5);
  hash_graph(a, count, t, 0);  // slot 4
  hash_graph(b, count, t, 0);  // home 4 taken: wraps to slot 0
  hash_graph(c, count, t, 0);  // home 0 taken: slot 1
  hash_graph(d, count, t, 0);  // home 0: slot 2
  csrcount[0].offset = csrcount[0].size;
  // All four are found again by probing, from another compound.
  for (const Graph* g : {&d, &c, &b, &a}) hash_graph(*g, count, t, 1);
  EXPECT_EQ(count, 4);
  FILE* fp = std::tmpfile();
  sweep_length(t, k, fp);
  std::fclose(fp);
  EXPECT_EQ(k, 4);
  EXPECT_EQ(map, std::vector<int>({-1, 4, 1, 2, 3}));
}

TEST_F(Table, FullTable) {
  FragmentTable t = initialize_hash(3);
  int count = 0;
  const Graph a = bond(0, 0, 2), b = bond(0, 1, 2), c = bond(1, 1, 2);
  hash_graph(a, count, t, 0);
  hash_graph(b, count, t, 0);
  hash_graph(c, count, t, 0);
  // Every slot occupied: a known fragment is still found (one full probe round).
  hash_graph(c, count, t, 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(csr_occurrences(0, 2), 2u);
  EXPECT_FATAL_STDOUT(hash_graph(bond(2, 2, 1), count, t, 0), "HASH TABLE FULL: INCREASE THE SIZE\n");
  // A slot released by the sweep is not free either.
  int k = 0;
  freqt = 9;  // nothing is written
  sweep_length(t, k, nullptr);
  EXPECT_FATAL_STDOUT(hash_graph(a, count, t, 0), "HASH TABLE FULL: INCREASE THE SIZE\n");
}

}  // namespace

namespace {

// Occurrences past 2^32 of one fragment in one compound (reachable: a star of 499
// leaves holds C(499, 4) four-bond stars) are counted and written in full.
TEST_F(Table, OccurrencesPastTwoToTheThirtyTwo) {
  FragmentTable t = initialize_hash(5);
  int count = 0, k = 0;
  const Graph a = bond(0, 0, 4);
  map.assign(2, -1);
  name = {"none", "star"};
  hash_graph(a, count, t, 1);
  csr[1][0].freq = 0xFFFFFFFFu;
  hash_graph(a, count, t, 1);
  hash_graph(a, count, t, 1);
  EXPECT_EQ(csr_occurrences(1, 0), 0x100000001u);
  std::FILE* frag = std::tmpfile();
  sweep_length(t, k, frag);
  std::fclose(frag);
  const std::string path = test_support::scratch_dir() + "/d.out";
  std::FILE* out = std::fopen(path.c_str(), "w");
  ::testing::internal::CaptureStdout();
  write_file(2, out);
  ::testing::internal::GetCapturedStdout();
  std::fclose(out);
  EXPECT_EQ(test_support::read_text(path), "\"none\",0\n\"star\",1,1,4294967297\n");
}

}  // namespace
