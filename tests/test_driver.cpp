// Whole runs that end in failure or under odd conditions: each must say what went
// wrong, end with status 1 (or complete normally), and leave no misleading file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

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
