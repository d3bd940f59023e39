// The command line: usage errors with their exact output and exit statuses, and
// the output stem and input format chosen from the input name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "test_support.h"

using test_support::run_sarvik;
using test_support::scratch_dir;

namespace {

std::string usage_file() { return test_support::read_text(test_support::data_path("usage.txt")); }

const std::string kNoExtension =
    "Input filename does not have either .sdf or .mol2 extention.\n"
    "Input file must be either SD file or Mol2. Refer to README.md\n";

struct UsageCase {
  std::vector<std::string> args;
  std::string output;  // expected standard output
  int status;
};

// Parses args in-process (the program name is prepended).
CommandLine parse(std::vector<std::string> args) {
  args.insert(args.begin(), "Sarvik");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  CommandLine cl;
  parse_command_line(static_cast<int>(args.size()), argv.data(), cl);
  return cl;
}

}  // namespace

TEST(CommandLine, UsageErrorsPrintTheirMessageAndTheUsageText) {
  const std::string dir = scratch_dir();
  const std::string usage = usage_file();
  const auto error = [&](const std::string& what) { return "Error: " + what + "\n" + usage; };
  const std::string extra = "': the input file is the last argument, after the options";
  const std::vector<UsageCase> cases = {
      {{}, usage, 2},
      {{"-x", "a.sdf"}, error("unknown option '-x'"), 2},
      {{"x.sdf", "-lmax", "3"}, error("extra argument 'x.sdf" + extra), 2},
      {{"a.sdf", "b.sdf"}, error("extra argument 'a.sdf" + extra), 2},
      // A help or version flag anywhere wins, unless it is an option's value.
      {{"-help"}, usage, 0},
      {{"-h", "a.sdf"}, usage, 0},
      {{"-foo", "-lmax", "x", "-help", "a.sdf"}, usage, 0},
      {{"-lmin", "2", "--version"}, "Sarvik 1.0.0\n", 0},
      {{"-ofile", "-h"}, error("no input file: -ofile took the last argument '-h' as its value"), 2},
      {{"-lmax", "-h", "a.sdf"}, "\nError: Invalid value for lmax\n" + usage, 2},
      {{"-ds", "qz", "a.sdf"}, "\nError: Invalid value for ds\n" + usage, 2},
      {{"-lmin", "x.sdf"}, "\nError: Invalid value for lmin\n" + usage, 2},
      {{"-lmin", "0", "x.sdf"}, "\nError: Invalid value for lmin\n" + usage, 2},
      {{"-lmax", "0", "x.sdf"}, "\nError: Invalid value for lmax\n" + usage, 2},
      {{"-lmax", "5x", "x.sdf"}, "\nError: Invalid value for lmax\n" + usage, 2},
      {{"-lmax", "2147483648", "x.sdf"}, "\nError: Invalid value for lmax\n" + usage, 2},
      {{"-fmin", "99999999999999999999", "x.sdf"}, "\nError: Invalid value for fmin\n" + usage, 2},
      {{"-fmin", "+3", "x.sdf"}, "\nError: Invalid value for fmin\n" + usage, 2},
      {{"-ofile", "x.sdf"}, error("no input file: -ofile took the last argument 'x.sdf' as its value"), 2},
      {{"x"}, kNoExtension, 2},
      {{"-ofile", "out", "data.d/mols"}, kNoExtension, 2},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    SCOPED_TRACE("arguments: " + shown);
    const auto r = run_sarvik(c.args, dir);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.output);
    EXPECT_EQ(r.err, "");
  }
  // Usage errors happen before any file is made.
  EXPECT_FALSE(test_support::file_exists(dir + "/_frag.sdf"));
  EXPECT_FALSE(test_support::file_exists(dir + "/x_frag.sdf"));
}

TEST(CommandLine, StemAndFormatComeFromTheLastPathComponent) {
  struct NameCase {
    std::string input;
    std::string stem;
    Format filetype;
  };
  const std::vector<NameCase> cases = {
      {"mols.sdf", "mols", Format::sd},
      {"a.b.sdf", "a", Format::sd},
      {"data/x.sdf", "data/x", Format::sd},
      {"./x.sdf", "./x", Format::sd},
      {"dir.v2/x.sdf", "dir.v2/x", Format::sd},
      {"x.mol2", "x", Format::mol2},
      {"x.MOL2", "x", Format::mol2},
      {"data.set.mol2", "data", Format::mol2},
      {"x.mol2.sdf", "x", Format::sd},
      {"x.", "x", Format::sd},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const CommandLine cl = parse({c.input});
    EXPECT_EQ(cl.outfile, c.stem);
    EXPECT_EQ(cl.filetype, c.filetype);
    EXPECT_EQ(cl.filestub, c.input);
    EXPECT_EQ(rules_file_name(cl), c.stem + (c.filetype == Format::mol2 ? "_frag.mol2" : "_frag.sdf"));
    EXPECT_EQ(output_file_name(cl), c.stem + ".out");
  }
  const CommandLine cl = parse({"-ofile", "run1", "data/mols.sdf"});
  EXPECT_EQ(rules_file_name(cl), "run1_frag.sdf");
  EXPECT_EQ(output_file_name(cl), "run1.out");
  const std::string long_name = std::string(5000, 'n') + ".sdf";
  EXPECT_EQ(parse({long_name}).outfile, std::string(5000, 'n'));
}
