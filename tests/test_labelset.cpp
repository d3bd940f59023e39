// Sorted pointer arrays, label sets and the loading of the dictionary file.
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "input/input.h"
#include "test_support.h"

using test_support::scratch_dir;
using test_support::write_text;

namespace {

int first_char_cmp(const std::string& element, const std::string& key) {
  return static_cast<unsigned char>(element[0]) - static_cast<unsigned char>(key[0]);
}

TEST(PtrArray, BinarySearchFindsTheFirstEqualElement) {
  PtrArray a;
  EXPECT_EQ(ptr_array_index("b", a, ptr_array_strcmp), -1);
  EXPECT_EQ(ptr_array_search("b", a, ptr_array_strcmp), nullptr);
  for (const char* s : {"a", "b", "b", "c"}) ptr_array_append(s, a);
  EXPECT_EQ(ptr_array_index("b", a, ptr_array_strcmp), 1);
  EXPECT_EQ(ptr_array_index("a", a, ptr_array_strcmp), 0);
  EXPECT_EQ(ptr_array_index("c", a, ptr_array_strcmp), 3);
  EXPECT_EQ(ptr_array_index("bb", a, ptr_array_strcmp), -1);
  EXPECT_EQ(ptr_array_index("d", a, ptr_array_strcmp), -1);
  EXPECT_EQ(*ptr_array_search("c", a, ptr_array_strcmp), "c");
  EXPECT_EQ(ptr_array_lindex("b", a, ptr_array_strcmp), 1);
  EXPECT_EQ(ptr_array_lindex("x", a, ptr_array_strcmp), -1);
}

TEST(PtrArray, OrderedInsertionPutsEqualKeysAfterTheirEquals) {
  PtrArray a;
  for (const char* s : {"b1", "a1", "b2", "c1", "b3"}) ptr_array_add(s, a, first_char_cmp);
  EXPECT_EQ(a.buf, (std::vector<std::string>{"a1", "b1", "b2", "b3", "c1"}));
}

TEST(PtrArray, AddBeyondTheFirstCapacityKeepsByteOrder) {
  LabelSet s = graph_init_labelset();
  std::mt19937 rng(12345);
  std::vector<std::string> keys;
  for (int i = 0; i < 300; ++i) keys.push_back(std::to_string(rng() % 100000) + "x");
  for (const auto& k : keys) ptr_array_add(k, s.vl, ptr_array_strcmp);
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(s.vl.buf, keys);
}

TEST(PtrArray, MisuseEndsTheRun) {
  PtrArray a;
  ptr_array_append("x", a);
  EXPECT_FATAL_STDOUT(ptr_array_at(a, 1), "index out of bound\n");
  EXPECT_FATAL_STDOUT(ptr_array_insert("y", a, 1), "invalid insertion\n");
}

TEST(LabelSet, IntegersAreByteWiseRanksWhateverTheRegistrationOrder) {
  LabelSet s = graph_init_labelset();
  for (const char* v : {"N", "C", "Cl", "Br", "C"}) graph_register_vertex_label_to_set(v, s);
  EXPECT_EQ(s.vl.buf, (std::vector<std::string>{"Br", "C", "Cl", "N"}));
  EXPECT_EQ(graph_index_vertex_labelset("C", s), 1);
  EXPECT_EQ(graph_index_vertex_labelset("N", s), 3);
  graph_register_vertex_label_to_set("c", s);
  EXPECT_EQ(graph_index_vertex_labelset("c", s), 4);  // lower case after upper case

  for (const char* e : {"-", "=", "#", "~"}) graph_register_edge_label_to_set(e, s);
  EXPECT_EQ(graph_index_edge_labelset("#", s), 0);
  EXPECT_EQ(graph_index_edge_labelset("-", s), 1);
  EXPECT_EQ(graph_index_edge_labelset("=", s), 2);
  EXPECT_EQ(graph_index_edge_labelset("~", s), 3);
  graph_register_edge_label_to_set("*", s);
  EXPECT_EQ(s.el.buf, (std::vector<std::string>{"#", "*", "-", "=", "~"}));
}

TEST(LabelSet, MissingLabelsEndTheRun) {
  LabelSet s = graph_init_labelset();
  for (const char* v : {"O", "C"}) graph_register_vertex_label_to_set(v, s);
  graph_register_edge_label_to_set("-", s);
  EXPECT_FATAL_STDOUT(graph_index_vertex_labelset("N", s),
                      "C\nO\ncan't find a vertex label 'N' in the label set\n");
  EXPECT_FATAL_STDOUT(graph_index_edge_labelset("=", s),
                      "can't find an edge label in the label set\n");
}

TEST(LoadLabelset, ReadsTypedLinesAndSkipsComments) {
  const std::string path = scratch_dir() + "/d.dict";
  write_text(path, "# comment V X\nE -\nE =\nE #\nE ~\nV O\nV Cl  trailing words\nV\tC\n"
                   "#V Z\nV O\nVN\nV " + std::string(3000, 'L') + "\nE ~");
  LabelSet s = graph_load_labelset(path);
  EXPECT_EQ(s.el.buf, (std::vector<std::string>{"#", "-", "=", "~"}));
  EXPECT_EQ(s.vl.buf,
            (std::vector<std::string>{"C", "Cl", std::string(3000, 'L'), "N", "O"}));
}

TEST(LoadLabelset, MalformedLinesEndTheRun) {
  const std::string dir = scratch_dir();
  for (const auto& [text, expected] : std::vector<std::pair<std::string, std::string>>{
           {"E -\nV\n", "wrong formatted line at"},
           {"E -\nV   \n", "wrong formatted line at"},
           {"E -\n\nV C\n", "invalid line at"},
           {"X C\n", "invalid line at"}}) {
    SCOPED_TRACE(text);
    write_text(dir + "/d.dict", text);
    EXPECT_FATAL_STDOUT(graph_load_labelset(dir + "/d.dict"), expected);
  }
  EXPECT_FATAL_STDOUT(graph_load_labelset(dir + "/none.dict"),
                      "can't open a file '" + dir + "/none.dict'\n");
}

}  // namespace
