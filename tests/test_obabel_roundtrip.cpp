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

bool have_obabel() { return std::system("command -v obabel > /dev/null 2>&1") == 0; }

struct Record {
  std::string title;
  int atoms = -1;
  int bonds = -1;
};

// Per record of the fragment file: title, atom count, bond count.
std::vector<Record> read_with_obabel(const std::string& dir, const std::string& in_format) {
  std::string cmd = "cd ";
  cmd.append(test_support::shell_quote(dir)).append(" && obabel -i").append(in_format);
  cmd.append(" cdk2_frag.sdf -otxt --append 'atoms bonds' > obabel.txt 2> obabel.err");
  EXPECT_EQ(std::system(cmd.c_str()), 0) << test_support::read_text(dir + "/obabel.err");
  std::vector<Record> records;
  std::istringstream in(test_support::read_text(dir + "/obabel.txt"));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Record r;
    fields >> r.title >> r.atoms >> r.bonds;
    records.push_back(r);
  }
  return records;
}

// The k values of the progress lines, one per length from 1 on.
std::vector<int> descriptors_per_length(const std::string& out) {
  std::vector<int> k;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    int total = 0, value = 0;
    if (std::sscanf(line.c_str(), "total upto this threshold = %d,value of k = %d", &total,
                    &value) == 2)
      k.push_back(value);
  }
  return k;
}

// Descriptor ids listed anywhere in the descriptor file.
std::set<int> listed_descriptors(const std::string& text) {
  std::set<int> ids;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t close = line.rfind('"');
    std::vector<int> nums;
    std::istringstream rest(line.substr(close + 1));
    std::string field;
    std::getline(rest, field, ',');  // empty: the text after the closing quote
    while (std::getline(rest, field, ',')) nums.push_back(std::stoi(field));
    EXPECT_FALSE(nums.empty()) << line;
    if (nums.empty()) continue;
    EXPECT_EQ(static_cast<int>(nums.size()), 1 + 2 * nums[0]) << line;
    for (std::size_t j = 1; j + 1 < nums.size(); j += 2) {
      ids.insert(nums[j]);
      EXPECT_GE(nums[j + 1], 1) << line;
    }
  }
  return ids;
}

void check_round_trip(const std::string& input, const std::string& in_format) {
  if (!have_obabel()) GTEST_SKIP() << "obabel is not installed";
  const std::string dir = test_support::scratch_dir();
  std::filesystem::copy_file(test_support::data_path(input), dir + "/" + input);
  const auto run = test_support::run_sarvik({"-lmax", "4", input}, dir);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::vector<int> k = descriptors_per_length(run.out);
  ASSERT_EQ(k.size(), 4u) << run.out;
  const int total = k.back();
  ASSERT_GT(total, 0);

  // With the default minimum frequency every descriptor occurs somewhere.
  const std::set<int> ids = listed_descriptors(test_support::read_text(dir + "/cdk2.out"));
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(*ids.begin(), 1);
  EXPECT_EQ(*ids.rbegin(), total);
  EXPECT_EQ(static_cast<int>(ids.size()), total);

  const std::vector<Record> records = read_with_obabel(dir, in_format);
  ASSERT_EQ(static_cast<int>(records.size()), total);
  std::set<std::string> titles;
  int length = 1;
  for (int n = 1; n <= total; ++n) {
    while (n > k[length - 1]) ++length;
    const Record& r = records[n - 1];
    EXPECT_EQ(r.atoms, length + 1) << "descriptor " << n << " title " << r.title;
    EXPECT_EQ(r.bonds, length) << "descriptor " << n << " title " << r.title;
    EXPECT_GT(std::atoi(r.title.c_str()), 0) << "descriptor " << n;
    titles.insert(r.title);
  }
  EXPECT_EQ(static_cast<int>(titles.size()), total) << "fragment ids repeat";
}

TEST(ObabelRoundTrip, SdFragments) { check_round_trip("cdk2.sdf", "sdf"); }

TEST(ObabelRoundTrip, Mol2Fragments) { check_round_trip("cdk2.mol2", "mol2"); }

}  // namespace
