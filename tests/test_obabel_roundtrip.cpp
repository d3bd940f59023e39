// Every record of a real run's fragment file, read back by Open Babel, has the
// atom and bond counts of its descriptor's length, and the file holds exactly
// the descriptors that the descriptor file uses.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// Descriptor ids listed in the descriptor file; each line is "name",n then n
// pairs of id and a frequency of at least 1.
std::set<int> listed_descriptors(const std::string& text) {
  std::set<int> ids;
  std::istringstream in(text);
  std::string line, field;
  while (std::getline(in, line)) {
    std::vector<int> nums;
    std::istringstream rest(line.substr(line.rfind('"') + 2));
    while (std::getline(rest, field, ',')) nums.push_back(std::stoi(field));
    EXPECT_TRUE(!nums.empty() && static_cast<int>(nums.size()) == 1 + 2 * nums[0]) << line;
    for (std::size_t j = 1; j + 1 < nums.size(); j += 2) {
      ids.insert(nums[j]);
      EXPECT_GE(nums[j + 1], 1) << line;
    }
  }
  return ids;
}

void check_round_trip(const std::string& input, const std::string& in_format) {
  if (std::system("command -v obabel > /dev/null 2>&1") != 0) GTEST_SKIP() << "no obabel";
  const std::string dir = test_support::scratch_dir();
  std::filesystem::copy_file(test_support::data_path(input), dir + "/" + input);
  const auto run = test_support::run_sarvik({"-lmax", "4", input}, dir);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  // The k of each progress line: descriptors up to that length.
  std::vector<int> k;
  std::istringstream out(run.out);
  std::string line;
  int total = 0, value = 0;
  while (std::getline(out, line))
    if (std::sscanf(line.c_str(), "total upto this threshold = %d,value of k = %d", &total, &value) == 2)
      k.push_back(value);
  ASSERT_EQ(k.size(), 4u) << run.out;
  total = k.back();
  ASSERT_GT(total, 0);

  // With the default minimum frequency every descriptor occurs somewhere.
  const std::set<int> ids = listed_descriptors(test_support::read_text(dir + "/cdk2.out"));
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(*ids.begin(), 1);
  EXPECT_EQ(*ids.rbegin(), total);
  EXPECT_EQ(static_cast<int>(ids.size()), total);

  const std::string cmd = "cd " + test_support::shell_quote(dir) + " && obabel -i" + in_format +
                          " cdk2_frag." + in_format + " -otxt --append 'atoms bonds' > obabel.txt 2> obabel.err";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << test_support::read_text(dir + "/obabel.err");
  std::istringstream records(test_support::read_text(dir + "/obabel.txt"));
  std::set<std::string> titles;
  int n = 0, length = 1;
  std::string title;
  int atoms = -1, bonds = -1;
  while (records >> title >> atoms >> bonds) {
    ++n;
    while (length <= 4 && n > k[length - 1]) ++length;
    EXPECT_EQ(atoms, length + 1) << "descriptor " << n << " title " << title;
    EXPECT_EQ(bonds, length) << "descriptor " << n << " title " << title;
    EXPECT_GT(std::atoi(title.c_str()), 0) << "descriptor " << n;
    titles.insert(title);
  }
  EXPECT_EQ(n, total);
  EXPECT_EQ(static_cast<int>(titles.size()), total) << "fragment ids repeat";
}

TEST(ObabelRoundTrip, SdFragments) { check_round_trip("cdk2.sdf", "sdf"); }

TEST(ObabelRoundTrip, Mol2Fragments) { check_round_trip("cdk2.mol2", "mol2"); }

}  // namespace
