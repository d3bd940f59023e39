// Line reading, tokenising, the allocation handler and vertex lookup.
#include <cstdio>
#include <string>
#include <vector>

#include "input/input.h"
#include "test_support.h"

using test_support::scratch_dir;
using test_support::write_text;

namespace {

// Every line of text read with fgetl from a buffer of bufsize bytes, and the
// buffer size after each line.
std::vector<std::string> read_all_lines(const std::string& text, std::size_t bufsize,
                                        std::vector<std::size_t>* sizes = nullptr) {
  const std::string path = scratch_dir() + "/lines";
  write_text(path, text);
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
  const std::string longline(1030, 'x');
  std::vector<std::size_t> sizes;
  EXPECT_EQ(read_all_lines(longline + "\nshort\n", 1024, &sizes),
            (std::vector<std::string>{longline + "\n", "short\n"}));
  EXPECT_EQ(sizes[0], 1034u);  // 1024 + 5 + 5
  // 1024 + 5 + 5 + 10 + 20 = 1064 holds a line of 1060 characters and newline.
  sizes.clear();
  EXPECT_EQ(read_all_lines(std::string(1060, 'y') + "\n", 1024, &sizes)[0].size(), 1061u);
  EXPECT_EQ(sizes[0], 1064u);
  // The smallest buffer still reads whole lines.
  EXPECT_EQ(read_all_lines("abc\ndefghijklmnopqrstuvwxyz\n", 2),
            (std::vector<std::string>{"abc\n", "defghijklmnopqrstuvwxyz\n"}));
  EXPECT_TRUE(read_all_lines("", 2).empty());
}

TEST(Fgetl, LastLineWithoutNewlineIsReturnedWholeWhereverItEnds) {
  EXPECT_EQ(read_all_lines("first\nlast", 1024), (std::vector<std::string>{"first\n", "last"}));
  // Exactly the buffer's room (1023 characters) and exactly one growth step.
  for (std::size_t n : {1023u, 1028u, 1033u, 5000u}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(read_all_lines("x\n" + std::string(n, 'z'), 1024),
              (std::vector<std::string>{"x\n", std::string(n, 'z')}));
  }
}

TEST(Chomp, CutsAtTheFirstNewlineAndKeepsCarriageReturns) {
  char two[] = "one\ntwo\n";
  EXPECT_STREQ(chomp(two), "one");
  char cr[] = "dollar\r\n";
  EXPECT_STREQ(chomp(cr), "dollar\r");
}

TEST(SplitLine, TokensAreSeparatedBySpacesOnly) {
  struct Case {
    std::string line;
    std::vector<std::string> tokens;  // the count is their number; "nil" when none
  };
  const std::vector<Case> cases = {
      {"\n", {}},
      {"", {}},
      {"    \n", {}},
      {"$$$$\n", {"$$$$"}},
      {"$$$$\r\n", {"$$$$\r"}},  // five characters: no record end
      {"  a\tb   c  \n d\n", {"a\tb", "c"}},
  };
  std::vector<std::string> tok;
  int count = -1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    split_line_all_char(c.line.c_str(), &count, tok);
    ASSERT_EQ(count, static_cast<int>(c.tokens.size()));
    EXPECT_EQ(tok[0], c.tokens.empty() ? std::string("nil") : c.tokens[0]);
    for (int i = 1; i < count; ++i) EXPECT_EQ(tok[i], c.tokens[i]);
  }
  EXPECT_NE(tok[0], "$$$$");
  // Nothing limits the number or length of tokens.
  std::string many;
  for (int i = 0; i < 2500; ++i) many.append("t").append(std::to_string(i)).append(" ");
  many.append(3000, 'L').append("\n");
  split_line_all_char(many.c_str(), &count, tok);
  ASSERT_EQ(count, 2501);
  EXPECT_EQ(tok[1999], "t1999");
  EXPECT_EQ(tok[2500].size(), 3000u);
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
  EXPECT_FATAL_STDOUT(graph_lookup_vid(5, g), "graph lookup vid : can't find a vid in a graph 5\n");
}

}  // namespace
