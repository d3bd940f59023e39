// Helpers shared by the test programs: scratch folders, running the Sarvik binary,
// reading and writing files, and checking failures.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/common.h"
#include "graph_builder.h"

namespace test_support {

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

// A fresh, empty folder under the build tree, named after the running test.
inline std::string scratch_dir(const std::string& tag = "") {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string n = std::string(info ? info->test_suite_name() : "suite") + "." +
                  (info ? info->name() : "test") + tag;
  for (char& c : n)
    if (c == '/') c = '_';
  std::filesystem::path dir = std::filesystem::path(SARVIK_SCRATCH) / n;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

inline std::string data_path(const std::string& file) {
  return std::string(SARVIK_TEST_DATA) + "/" + file;
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

// Runs the Sarvik program in workdir with args; captures both output streams.
inline RunResult run_sarvik(const std::vector<std::string>& args, const std::string& workdir) {
  // Built by appending: GCC 12 warns falsely (-Wrestrict) on "literal" + string&&.
  std::string cmd = "cd ";
  cmd += shell_quote(workdir);
  cmd += " && ";
  cmd += shell_quote(SARVIK_BINARY);
  for (const auto& a : args) {
    cmd += ' ';
    cmd += shell_quote(a);
  }
  cmd += " > .stdout 2> .stderr";
  RunResult r;
  int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  r.out = read_text(workdir + "/.stdout");
  r.err = read_text(workdir + "/.stderr");
  std::filesystem::remove(workdir + "/.stdout");
  std::filesystem::remove(workdir + "/.stderr");
  return r;
}

// The fields that make a canonical graph the fragment it is, and with them the
// order the labelling leaves.
inline auto form_of(const sarvik::Graph& g) { return std::tie(g.vs, g.es, g.v, g.e, g.el, g.vl, g.key); }
inline auto fields_of(const sarvik::Graph& g) { return std::tuple_cat(form_of(g), std::tie(g.vid)); }

}  // namespace test_support

// The statement must fail with sarvik::Error, whose whole text (what the
// command line prints for it) is `expected`.
#define EXPECT_ERROR_TEXT(statement, expected)                       \
  do {                                                               \
    try {                                                            \
      statement;                                                     \
      ADD_FAILURE() << "no error from " #statement;                  \
    } catch (const sarvik::Error& error_) {                          \
      EXPECT_EQ(std::string(error_.what()), std::string(expected));  \
    }                                                                \
  } while (0)

using namespace sarvik;
