// Fragment hash table, occurrence lists, the length sweep and the descriptor file.
#include <cstdio>
#include <string>
#include <vector>

#include "table/table.h"
#include "table/table_detail.h"
#include "test_support.h"

namespace {

// A path fragment over vertex labels vl with a key set by hand.
Graph path_fragment(const std::vector<int>& vl, unsigned key) {
  test_support::Bonds bonds;
  for (int i = 1; i < static_cast<int>(vl.size()); ++i) bonds.push_back({i - 1, i, 0});
  Graph g = test_support::make_graph(vl, bonds);
  g.key = key;
  return g;
}

// One bond between vertex labels a and b: distinct pairs are distinct fragments.
Graph bond(int a, int b, unsigned key) { return path_fragment({a, b}, key); }

void make_compounds(int n) {
  csr.assign(n, {});
  for (auto& l : csr) l.reserve(CSR_LEN);
  csrcount.assign(n, CSRcount{0, CSR_LEN, 0});
  name.assign(n, "");
  for (int i = 0; i < n; ++i) name[i].append("m").append(std::to_string(i + 1));
}

// Distinct compounds that met the live fragment of slot s.
int compounds_of(const FragmentTable& t, int s) { return table_live_of_slot(t, s)->count; }

// Fragment id of the live fragment of slot s, 0 when the slot holds none.
int live_id(const FragmentTable& t, int s) {
  const FragmentTable::Live* f = table_live_of_slot(t, s);
  return f ? f->id : 0;
}

void end_compound(int i) { csrcount[i].offset = csrcount[i].size; }

struct Table : ::testing::Test {
  test_support::SettingsGuard guard;
  void SetUp() override { threshold = 1; }
};

TEST_F(Table, CountsCompoundsAndOccurrences) {
  make_compounds(4);
  FragmentTable t = initialize_hash(11);
  int count = 0;
  const Graph a = bond(0, 0, 381298450u);
  // Three occurrences in compound 0 only.
  for (int r = 0; r < 3; ++r) hash_graph(a, count, t, 0);
  end_compound(0);
  const int home = static_cast<int>(generate_hash(a, 11));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(compounds_of(t, home), 1);
  EXPECT_EQ(live_id(t, home), 1);
  ASSERT_EQ(csrcount[0].size, 1);
  EXPECT_EQ(csr[0][0].id, 1);
  EXPECT_EQ(csr[0][0].freq, 3);
  // Once in each of the three other compounds: four compounds in all.
  for (int c = 1; c < 4; ++c) {
    hash_graph(a, count, t, c);
    end_compound(c);
    ASSERT_EQ(csrcount[c].size, 1);
    EXPECT_EQ(csr[c][0].freq, 1);
  }
  EXPECT_EQ(count, 1);
  EXPECT_EQ(compounds_of(t, home), 4);
  EXPECT_EQ(t.used, 1);
  // map grows with the ids: index 0 and every new id, all -1 until the sweep.
  EXPECT_EQ(map, std::vector<int>({-1, -1}));
}

TEST_F(Table, CollisionWrapAndHomeSlot) {
  make_compounds(2);
  FragmentTable t = initialize_hash(5);
  int count = 0;
  const Graph a = bond(0, 0, 4), b = bond(0, 1, 9), c = bond(1, 1, 5), d = bond(1, 2, 0);
  EXPECT_EQ(generate_hash(c, 5), 0u);  // a key equal to the size
  EXPECT_EQ(generate_hash(d, 5), 0u);
  EXPECT_EQ(generate_hash(path_fragment({0, 0}, 0xFFFFFFFFu), 5), 0xFFFFFFFFu % 5);
  hash_graph(a, count, t, 0);  // slot 4
  hash_graph(b, count, t, 0);  // home 4 taken: wraps to slot 0
  hash_graph(c, count, t, 0);  // home 0 taken: slot 1
  hash_graph(d, count, t, 0);  // home 0: slot 2
  EXPECT_EQ(live_id(t, 4), 1);
  EXPECT_EQ(live_id(t, 0), 2);
  EXPECT_EQ(live_id(t, 1), 3);
  EXPECT_EQ(live_id(t, 2), 4);
  EXPECT_FALSE(table_slot_occupied(t, 3));
  end_compound(0);
  // All four are found again by probing, from another compound.
  for (const Graph* g : {&d, &c, &b, &a}) hash_graph(*g, count, t, 1);
  EXPECT_EQ(count, 4);
  for (int s : {0, 1, 2, 4}) EXPECT_EQ(compounds_of(t, s), 2) << s;
  ASSERT_EQ(csrcount[1].size, 4);
  EXPECT_EQ(csr[1][0].id, 4);
  EXPECT_EQ(csr[1][3].id, 1);
  EXPECT_EQ(table_live_slots(t), std::vector<int>({4, 0, 1, 2}));
}

TEST_F(Table, ReleasedSlotIsNeverMatched) {
  make_compounds(1);
  FragmentTable t = initialize_hash(7);
  int count = 0, k = 0;
  const Graph a = bond(0, 0, 3);
  hash_graph(a, count, t, 0);
  end_compound(0);
  freqt = 2;  // nothing is written
  sweep_length(t, k, nullptr);
  EXPECT_EQ(k, 0);
  EXPECT_TRUE(table_slot_occupied(t, 3));
  EXPECT_EQ(table_live_of_slot(t, 3), nullptr);
  EXPECT_TRUE(t.live.empty());
  // The same graph at a later sweep step: a new slot and a new id.
  hash_graph(a, count, t, 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(live_id(t, 4), 2);
  EXPECT_EQ(compounds_of(t, 4), 1);
  EXPECT_EQ(live_id(t, 3), 0);
  ASSERT_EQ(csrcount[0].size, 2);
  EXPECT_EQ(csr[0][1].id, 2);
  EXPECT_EQ(map.size(), 3u);
}

TEST_F(Table, FullTable) {
  make_compounds(1);
  FragmentTable t = initialize_hash(3);
  int count = 0;
  const Graph a = bond(0, 0, 2), b = bond(0, 1, 2), c = bond(1, 1, 2);
  hash_graph(a, count, t, 0);
  hash_graph(b, count, t, 0);
  hash_graph(c, count, t, 0);
  // Every slot occupied: a known fragment is still found (one full probe round).
  hash_graph(c, count, t, 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(csr[0][2].freq, 2);
  const Graph n = bond(2, 2, 1);
  EXPECT_FATAL_STDOUT(hash_graph(n, count, t, 0), "HASH TABLE FULL: INCREASE THE SIZE\n");
  // A released slot is not free either.
  int k = 0;
  freqt = 9;  // nothing is written
  sweep_length(t, k, nullptr);
  EXPECT_FATAL_STDOUT(hash_graph(a, count, t, 0), "HASH TABLE FULL: INCREASE THE SIZE\n");
}

TEST_F(Table, OccurrenceListGrowsWithoutLossOrReorder) {
  make_compounds(2);
  FragmentTable t = initialize_hash(1009);
  int count = 0;
  std::vector<Graph> frags;
  for (int i = 0; i < 250; ++i) frags.push_back(bond(i / 16, i % 16, 1000u + 7u * i));
  for (const Graph& g : frags) hash_graph(g, count, t, 0);
  for (int i = 0; i < 250; i += 2) hash_graph(frags[i], count, t, 0);
  EXPECT_EQ(csrcount[0].top, 400);
  ASSERT_EQ(csrcount[0].size, 250);
  for (int i = 0; i < 250; ++i) {
    EXPECT_EQ(csr[0][i].id, i + 1);
    EXPECT_EQ(csr[0][i].freq, i % 2 == 0 ? 2 : 1);
  }
}

TEST_F(Table, SweepGivesIdsInSlotOrderAboveTheMinimumFrequency) {
  make_compounds(2);
  ls.vl.buf = {"C", "N", "O"};
  ls.el.buf = {"#", "-", "=", "~"};
  const std::string dir = test_support::scratch_dir();
  const std::string path = dir + "/frag.sdf";
  FILE* fp = std::fopen(path.c_str(), "w");
  ASSERT_NE(fp, nullptr);
  FragmentTable t = initialize_hash(11);
  int count = 0, k = 0;
  const Graph a = bond(0, 0, 7), b = bond(0, 1, 2), c = bond(1, 2, 5), d = bond(2, 2, 9);
  hash_graph(a, count, t, 0);  // id 1, slot 7
  hash_graph(b, count, t, 0);  // id 2, slot 2
  hash_graph(c, count, t, 0);  // id 3, slot 5
  end_compound(0);
  hash_graph(d, count, t, 1);  // id 4, slot 9, one compound only
  hash_graph(c, count, t, 1);
  hash_graph(b, count, t, 1);
  hash_graph(a, count, t, 1);
  end_compound(1);
  freqt = 2;
  sweep_length(t, k, fp);
  std::fclose(fp);
  EXPECT_EQ(k, 3);
  EXPECT_EQ(map, std::vector<int>({-1, 3, 1, 2, -1}));
  // Records in descriptor order, titled with the fragment ids.
  const std::string text = test_support::read_text(path);
  std::vector<std::string> titles;
  std::size_t at = 0;
  while (at < text.size()) {
    titles.push_back(text.substr(at, text.find('\n', at) - at));
    at = text.find("$$$$\n", at) + 5;
  }
  EXPECT_EQ(titles, std::vector<std::string>({"2", "3", "1"}));
}

TEST_F(Table, DescriptorFileLines) {
  make_compounds(3);
  name = {"m1", "name", "a,b \"q\""};
  csr[0] = {{7, 2}, {3, 1}, {8, 1}};
  csrcount[0].size = 3;
  csr[2] = {{3, 5}};
  csrcount[2].size = 1;
  map.assign(10, -1);
  map[7] = 4;
  map[8] = 9;
  const std::string dir = test_support::scratch_dir();
  outfile = dir + "/d";
  testing::internal::CaptureStdout();
  write_file(3);
  testing::internal::GetCapturedStdout();
  // A double quote in a name is doubled, as CSV readers expect.
  EXPECT_EQ(test_support::read_text(dir + "/d.out"),
            "\"m1\",2,4,2,9,1\n\"name\",0\n\"a,b \"\"q\"\"\",0\n");
  outfile = dir + "/missing/d";
  EXPECT_FATAL_STDOUT(write_file(3), "can't open a file '" + outfile + ".out'\n");
}

}  // namespace
