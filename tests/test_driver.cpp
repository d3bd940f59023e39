// Whole runs that end in failure or under odd conditions: each must say what went
// wrong, end with status 1 (or complete normally), and leave no misleading file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

using test_support::file_exists;
using test_support::read_text;
using test_support::run_sarvik;
using test_support::scratch_dir;

namespace {

const std::string kEthanol =
    "ethanol\n\n\n  3  2  0  0  0  0  0  0  0  0999 V2000\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "    0.0000    0.0000    0.0000 C   0  0\n"
    "    0.0000    0.0000    0.0000 O   0  0\n"
    "  1  2  1  0\n  2  3  1  0\nM  END\n$$$$\n";

}  // namespace

TEST(Run, FilesThatCannotBeOpenedEndTheRun) {
  const std::string dir = scratch_dir();
  auto r = run_sarvik({"missing.sdf"}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "can't open a file 'missing.sdf': No such file or directory\n");

  // A directory opens but cannot be read: that is no empty input.
  std::filesystem::create_directory(dir + "/folder.sdf");
  r = run_sarvik({"folder.sdf"}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "can't read the file 'folder.sdf': Is a directory\n");

  // Outputs that cannot be created are found before any work is done.
  test_support::write_text(dir + "/m.sdf", kEthanol);
  r = run_sarvik({"-ofile", "no/such/dir/m", "m.sdf"}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "can't open a file 'no/such/dir/m_frag.sdf': No such file or directory\n");
  std::filesystem::create_directory(dir + "/m.out");
  r = run_sarvik({"-lmax", "1", "m.sdf"}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "can't open a file 'm.out': Is a directory\n");

  // An output never replaces the input, whatever the names say.
  std::filesystem::copy_file(dir + "/m.sdf", dir + "/x_frag.sdf");
  std::filesystem::copy_file(dir + "/m.sdf", dir + "/y.out");
  r = run_sarvik({"-ofile", "./x", "x_frag.sdf"}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "can't write the file './x_frag.sdf': it is the input file 'x_frag.sdf'\n");
  r = run_sarvik({"y.out"}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "can't write the file 'y.out': it is the input file 'y.out'\n");
  EXPECT_EQ(read_text(dir + "/x_frag.sdf"), kEthanol);
  EXPECT_EQ(read_text(dir + "/y.out"), kEthanol);

  // Compressed input is refused, not read as a compound with a binary name.
  test_support::write_text(dir + "/z.sdf", std::string("\x1f\x8b\x08\x00\x00\x00", 6));
  r = run_sarvik({"z.sdf"}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "the input file 'z.sdf' is compressed (gzip); compressed input is not read: unpack "
            "it first, for example with gunzip -c 'z.sdf' > unpacked.sdf\n");
}

TEST(Run, ClosedStandardOutputDoesNotLeakIntoTheFragmentFile) {
  const std::string dir = scratch_dir();
  test_support::write_text(dir + "/m.sdf", kEthanol);
  // Enough lengths that the progress lines outgrow any output buffer.
  const std::string cmd = "cd " + test_support::shell_quote(dir) + " && " +
                          test_support::shell_quote(SARVIK_BINARY) + " -lmax 3000 m.sdf >&-";
  const int raw = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0);
  const std::string frag = read_text(dir + "/m_frag.sdf");
  EXPECT_EQ(frag.find("threshold"), std::string::npos);
  EXPECT_EQ(frag.substr(0, 2), "1\n");
  EXPECT_EQ(read_text(dir + "/m.out"), "\"ethanol\",3,1,1,2,1,3,1\n");
}

namespace {

// The records of an SD text, each ending with its "$$$$" line.
std::vector<std::string> sd_records(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("$$$$\n", at);
    if (end == std::string::npos) break;
    out.push_back(text.substr(at, end + 5 - at));
    at = end + 5;
  }
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t nl = text.find('\n', at);
    out.push_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  return out;
}

std::string three(int x) {
  std::string s = std::to_string(x);
  return std::string(3 - s.size(), ' ') + s;
}

// The record with its atoms in a random order and its bonds shuffled and turned
// round; property lines stay as they are (the reader ignores them).
std::string renumbered(const std::string& record, std::mt19937& rng) {
  std::vector<std::string> l = lines_of(record);
  const int atoms = std::stoi(l[3].substr(0, 3));
  const int bonds = std::stoi(l[3].substr(3, 3));
  std::vector<int> to(atoms);  // old atom index -> new
  std::iota(to.begin(), to.end(), 0);
  std::shuffle(to.begin(), to.end(), rng);
  std::vector<std::string> atom_lines(atoms);
  for (int i = 0; i < atoms; ++i) atom_lines[to[i]] = l[4 + i];
  std::vector<std::string> bond_lines;
  for (int k = 0; k < bonds; ++k) {
    const std::string& b = l[4 + atoms + k];
    int x = to[std::stoi(b.substr(0, 3)) - 1] + 1;
    int y = to[std::stoi(b.substr(3, 3)) - 1] + 1;
    if (rng() % 2) std::swap(x, y);
    bond_lines.push_back(three(x) + three(y) + b.substr(6));
  }
  std::shuffle(bond_lines.begin(), bond_lines.end(), rng);
  std::string out;
  for (int i = 0; i < 4; ++i) out += l[i] + "\n";
  for (const std::string& a : atom_lines) out += a + "\n";
  for (const std::string& b : bond_lines) out += b + "\n";
  for (std::size_t i = 4 + atoms + bonds; i < l.size(); ++i) out += l[i] + "\n";
  return out;
}

// Per compound: its descriptors as (fragment record without its title line,
// occurrences), sorted; fragment and descriptor ids themselves follow emission
// order, which depends on the numbering.
std::vector<std::vector<std::pair<std::string, int>>> descriptors_by_structure(
    const std::string& dir, const std::string& stem) {
  std::vector<std::string> frags;
  for (const std::string& rec : sd_records(read_text(dir + "/" + stem + "_frag.sdf")))
    frags.push_back(rec.substr(rec.find('\n') + 1));
  std::vector<std::vector<std::pair<std::string, int>>> out;
  for (const std::string& line : lines_of(read_text(dir + "/" + stem + ".out"))) {
    std::vector<int> v;
    std::size_t at = line.rfind('"') + 2;
    while (at < line.size() + 1) {
      const std::size_t comma = line.find(',', at);
      v.push_back(std::stoi(line.substr(at, comma - at)));
      if (comma == std::string::npos) break;
      at = comma + 1;
    }
    std::vector<std::pair<std::string, int>> d;
    for (int k = 0; k < v[0]; ++k) d.push_back({frags.at(v[1 + 2 * k] - 1), v[2 + 2 * k]});
    std::sort(d.begin(), d.end());
    out.push_back(d);
  }
  return out;
}

}  // namespace

// Renumbering the atoms of every compound changes the order in which fragments
// are met, and with it every growth sequence the enumeration looks fragments up
// by, but no descriptor: the same fragments with the same counts, the same
// progress lines. Long enough to reach the individualisation search.
TEST(Run, RenumberedAtomsGiveTheSameDescriptors) {
  const std::string dir = scratch_dir();
  const std::string text = read_text(test_support::data_path("cdk2.sdf"));
  std::mt19937 rng(20261207);
  std::string shuffled;
  for (const std::string& rec : sd_records(text)) shuffled += renumbered(rec, rng);
  std::filesystem::create_directories(dir + "/a");
  std::filesystem::create_directories(dir + "/b");
  test_support::write_text(dir + "/a/m.sdf", text);
  test_support::write_text(dir + "/b/m.sdf", shuffled);
  const auto ra = run_sarvik({"-lmax", "8", "m.sdf"}, dir + "/a");
  const auto rb = run_sarvik({"-lmax", "8", "m.sdf"}, dir + "/b");
  ASSERT_EQ(ra.status, 0) << ra.out;
  ASSERT_EQ(rb.status, 0) << rb.out;
  EXPECT_EQ(ra.out, rb.out);
  const auto da = descriptors_by_structure(dir + "/a", "m");
  const auto db = descriptors_by_structure(dir + "/b", "m");
  ASSERT_EQ(da.size(), 47u);
  ASSERT_EQ(da.size(), db.size());
  for (std::size_t i = 0; i < da.size(); ++i) EXPECT_EQ(da[i], db[i]) << "compound " << i + 1;
}
