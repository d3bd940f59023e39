// Line reading, tokenising, file opening and vertex lookup helpers.
#include <cstdio>
#include <string>
#include <vector>

#include "input/input.h"
#include "test_support.h"

using test_support::read_text;
using test_support::scratch_dir;
using test_support::write_text;

namespace {

std::vector<std::string> read_all_lines(const std::string& path, std::size_t bufsize,
                                        std::vector<std::size_t>* sizes = nullptr) {
  FILE* fp = std::fopen(path.c_str(), "r");
  std::vector<char> buf(bufsize);
  std::vector<std::string> lines;
  while (const char* line = fgetl(buf, fp)) {
    lines.emplace_back(line);
    if (sizes) sizes->push_back(buf.size());
  }
  std::fclose(fp);
  return lines;
}

TEST(Fgetl, GrowsByFiveFiveThenDoublingAndKeepsTheNewline) {
  const std::string dir = scratch_dir();
  const std::string longline(1030, 'x');
  write_text(dir + "/f", longline + "\nshort\n");
  std::vector<std::size_t> sizes;
  const auto lines = read_all_lines(dir + "/f", 1024, &sizes);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], longline + "\n");
  EXPECT_EQ(sizes[0], 1034u);  // 1024 + 5 + 5
  EXPECT_EQ(lines[1], "short\n");

  // 1024 + 5 + 5 + 10 + 20 = 1064 holds a line of 1060 characters and newline.
  write_text(dir + "/g", std::string(1060, 'y') + "\n");
  sizes.clear();
  EXPECT_EQ(read_all_lines(dir + "/g", 1024, &sizes)[0].size(), 1061u);
  EXPECT_EQ(sizes[0], 1064u);
}

TEST(Fgetl, LastLineWithoutNewlineIsReturnedWholeWhereverItEnds) {
  const std::string dir = scratch_dir();
  write_text(dir + "/a", "first\nlast");
  EXPECT_EQ(read_all_lines(dir + "/a", 1024), (std::vector<std::string>{"first\n", "last"}));
  // Exactly the buffer's room (1023 characters) and exactly one growth step.
  for (std::size_t n : {1023u, 1028u, 1033u, 5000u}) {
    write_text(dir + "/b", "x\n" + std::string(n, 'z'));
    const auto lines = read_all_lines(dir + "/b", 1024);
    ASSERT_EQ(lines.size(), 2u) << n;
    EXPECT_EQ(lines[1], std::string(n, 'z')) << n;
  }
  write_text(dir + "/c", "");
  EXPECT_TRUE(read_all_lines(dir + "/c", 2).empty());
  // The smallest buffer still reads whole lines.
  write_text(dir + "/d", "abc\ndefghijklmnopqrstuvwxyz\n");
  EXPECT_EQ(read_all_lines(dir + "/d", 2),
            (std::vector<std::string>{"abc\n", "defghijklmnopqrstuvwxyz\n"}));
}

TEST(Chomp, CutsAtTheFirstNewlineAndKeepsCarriageReturns) {
  char two[] = "one\ntwo\n";
  EXPECT_STREQ(chomp(two), "one");
  char cr[] = "dollar\r\n";
  EXPECT_STREQ(chomp(cr), "dollar\r");
}

TEST(SplitLine, ShortBlankAndRecordEndLines) {
  std::vector<std::string> tok;
  int count = -1;
  split_line_all_char("\n", &count, tok);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(tok[0], "nil");
  split_line_all_char("", &count, tok);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(tok[0], "nil");
  split_line_all_char("    \n", &count, tok);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(tok[0], "nil");
  split_line_all_char("$$$$\n", &count, tok);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(tok[0], "$$$$");
  split_line_all_char("$$$$\r\n", &count, tok);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(tok[0].size(), 5u);
  EXPECT_NE(tok[0], "$$$$");
}

TEST(SplitLine, OnlySpacesSeparateAndNothingLimitsTokens) {
  std::vector<std::string> tok;
  int count = 0;
  split_line_all_char("  a\tb   c  \n d\n", &count, tok);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(tok, (std::vector<std::string>{"a\tb", "c"}));
  std::string many;
  for (int i = 0; i < 2500; ++i) {
    many += 't';
    many += std::to_string(i);
    many += ' ';
  }
  many += std::string(3000, 'L') + "\n";
  split_line_all_char(many.c_str(), &count, tok);
  ASSERT_EQ(count, 2501);
  EXPECT_EQ(tok[1999], "t1999");
  EXPECT_EQ(tok[2500].size(), 3000u);
}

TEST(Xfopen, UnopenableFileEndsTheRun) {
  const std::string dir = scratch_dir();
  write_text(dir + "/there", "x");
  FILE* fp = xfopen(dir + "/there", "r");
  ASSERT_NE(fp, nullptr);
  std::fclose(fp);
  const std::string missing = dir + "/no/such/" + std::string(1500, 'n') + ".sdf";
  EXPECT_FATAL_STDOUT(xfopen(missing, "r"), "can't open a file '" + missing + "'\n");
}

#ifndef __SANITIZE_ADDRESS__
TEST(MemoryHandler, FailedAllocationEndsTheRunWithAMessage) {
  EXPECT_EXIT(
      {
        install_memory_handler();
        void* p = ::operator new(static_cast<std::size_t>(1) << 62);
        std::printf("%p", p);
      },
      ::testing::ExitedWithCode(1), "utils:[0-9]+: not enough memory\n");
}
#endif

TEST(GraphLookupVid, ReturnsTheVertexOrEndsTheRun) {
  Graph g;
  g.vs = 5;
  g.vid = {0, 1, 2, 3, 4};
  EXPECT_EQ(graph_lookup_vid(4, g), 4);
  EXPECT_EQ(graph_lookup_vid(0, g), 0);
  g.vid = {7, 3, 3, 9, 1};
  EXPECT_EQ(graph_lookup_vid(3, g), 1);
  g.vid = {0, 1, 2, 3, 4};
  EXPECT_FATAL_STDOUT(graph_lookup_vid(5, g),
                      "graph lookup vid : can't find a vid in a graph 5\n");
  EXPECT_FATAL_STDOUT(graph_lookup_vid(-1, g),
                      "graph lookup vid : can't find a vid in a graph -1\n");
}

TEST(FreeGraph, ReleasesArraysAndCompoundsKeepNoPartArray) {
  Graph g;
  g.vs = 2;
  g.es = 2;
  g.e = {1, 0};
  g.el = {0, 0};
  g.v = {0, 1, 2};
  g.vid = {0, 1};
  g.vl = {0, 0};
  g.p = {0, 1};
  free_graph_all(g);
  EXPECT_TRUE(g.e.empty() && g.el.empty() && g.v.empty() && g.vid.empty() && g.vl.empty());
  EXPECT_EQ(g.p.size(), 2u);
  free_graph_cl(g);
  EXPECT_TRUE(g.p.empty());
  Graph empty;
  free_graph_hashtbl(empty);
  EXPECT_EQ(empty.vs, 0);
}

}  // namespace
