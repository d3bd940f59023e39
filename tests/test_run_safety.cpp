// What happens around a run: earlier results survive a failed or stopped run;
// nothing is written beside the input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

using test_support::read_text;
using test_support::run_sarvik;
using test_support::scratch_dir;
using test_support::shell_quote;

namespace {

// The names in dir, sorted: what runs left behind.
std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs a shell command line in dir; its exit status as the shell shows it.
int shell(const std::string& dir, const std::string& line) {
  const int raw = std::system(("cd " + shell_quote(dir) + " && (" + line + ")").c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

const std::string kSarvik = shell_quote(SARVIK_BINARY);

// Mounts a small tmpfs at dir (made here); false where that is not allowed.
bool mount_tmpfs(const std::string& dir, const std::string& size) {
  std::filesystem::create_directories(dir);
  return geteuid() == 0 &&
         std::system(("mount -t tmpfs -o size=" + size + " tmpfs " + shell_quote(dir) +
                      " 2>/dev/null").c_str()) == 0;
}

void unmount(const std::string& dir) {
  std::system(("umount " + shell_quote(dir) + " 2>/dev/null").c_str());
}

}  // namespace

// A run that fails at any point, or is stopped by SIGTERM or SIGINT, leaves the
// previous run's outputs byte for byte and no temporary file.
TEST(RunSafety, FailedOrStoppedRunsLeaveEarlierOutputsAlone) {
  const std::string dir = scratch_dir();
  std::filesystem::copy_file(test_support::data_path("cdk2.sdf"), dir + "/m.sdf");
  const std::string atom = "    0.0000    0.0000    0.0000 C   0  0\n";
  test_support::write_text(dir + "/bad.sdf", read_text(dir + "/m.sdf") + "bad\n\n\n  2  1\n" +
                                                 atom + atom + "  1  9  1\n$$$$\n");
  ASSERT_EQ(run_sarvik({"-lmax", "3", "m.sdf"}, dir).status, 0);
  const std::string out = read_text(dir + "/m.out");
  const std::string frag = read_text(dir + "/m_frag.sdf");
  const std::vector<std::string> names = names_in(dir);
  const auto unchanged = [&](const std::string& what) {
    EXPECT_EQ(read_text(dir + "/m.out"), out) << what;
    EXPECT_EQ(read_text(dir + "/m_frag.sdf"), frag) << what;
    EXPECT_EQ(names_in(dir), names) << what;
  };
  auto r = run_sarvik({"-ofile", "m", "bad.sdf"}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("in compound 48 'bad'"), std::string::npos) << r.out;
  unchanged("bad compound");
  r = run_sarvik({"-ofile", "m", "-fmin", "1", "-lmin", "1", "-lmax", "3", "missing.sdf"}, dir);
  EXPECT_EQ(r.status, 1);
  unchanged("missing input");
  // An output that is a folder is found before anything is written: the other
  // output of the same stem stays as it was.
  std::filesystem::create_directory(dir + "/x.out");
  test_support::write_text(dir + "/x_frag.sdf", frag);
  r = run_sarvik({"-ofile", "x", "m.sdf"}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "can't open a file 'x.out': Is a directory\n");
  EXPECT_EQ(read_text(dir + "/x_frag.sdf"), frag);
  std::filesystem::remove(dir + "/x.out");
  std::filesystem::remove(dir + "/x_frag.sdf");
  unchanged("folder named x.out");
  // Long enough (-lmax 14) to be in the middle of the sweep after a second. The
  // progress lines printed so far have reached the redirected output, though a
  // signal ends the process without flushing anything.
  // A run on several threads ends the same way.
  for (const auto& [sig, status, threads] :
       {std::tuple{"TERM", 128 + 15, ""}, std::tuple{"INT", 128 + 2, ""},
        std::tuple{"TERM", 128 + 15, " -threads 3"}}) {
    EXPECT_EQ(shell(dir, std::string("timeout --preserve-status -s ") + sig + " 1 " + kSarvik +
                             threads + " -lmax 14 m.sdf > " + shell_quote(dir + ".progress")),
              status);
    unchanged(sig);
    EXPECT_EQ(read_text(dir + ".progress").substr(0, 36),
              "total compounds = 47\nthreshold = 1\nt");
  }
  // A reader of the progress lines that goes away (SIGPIPE) stops the run too.
  shell(dir, kSarvik + " -lmax 14 m.sdf | head -n 1 > /dev/null");
  unchanged("SIGPIPE");
}

// A device that fills up mid-run: the write failure names the file and the
// reason, and the outputs of the run before are kept. Where no tmpfs can be
// mounted, a file size limit makes the writes fail instead. A run in a
// descriptor space writes its lines as it goes: a write that fails in the
// middle of them ends it the same way.
TEST(RunSafety, AFullDeviceFailsTheRunAndKeepsEarlierOutputs) {
  const std::string dir = scratch_dir();
  const std::string dev = dir + "/dev";
  std::filesystem::copy_file(test_support::data_path("cdk2.sdf"), dir + "/m.sdf");
  const bool mounted = mount_tmpfs(dev, "1m");
  std::string limit = "";
  if (!mounted) {
    std::cout << "[ note ] no tmpfs here: a file size limit (ulimit -f) fails the writes\n";
    limit = "trap '' XFSZ; ulimit -f 256; ";
  }
  ASSERT_EQ(run_sarvik({"-lmax", "2", "-ofile", "dev/m", "m.sdf"}, dir).status, 0);
  // A run in a descriptor space writes the descriptor file alone (22 kB here,
  // in three chunks of compounds).
  ASSERT_EQ(run_sarvik({"-lmax", "3", "-ofile", "s", "m.sdf"}, dir).status, 0);
  ASSERT_EQ(run_sarvik({"-lmax", "3", "-dspace", "s_frag.sdf", "-ofile", "d", "m.sdf"}, dir).status, 0);
  const std::string out = read_text(dev + "/m.out");
  const std::string frag = read_text(dev + "/m_frag.sdf");
  const std::string in_space = read_text(dir + "/d.out");
  if (mounted) shell(dir, "dd if=/dev/zero of=dev/fill bs=4096 2>/dev/null; true");
  const std::vector<std::string> names = names_in(dev);
  const std::string reason = mounted ? "No space left on device" : "File too large";
  // The fragment records of a run on several threads are written by a thread of
  // their own: its failure ends the run with the same message.
  for (const std::string threads : {"", " -threads 2"}) {
    EXPECT_EQ(shell(dir, limit + kSarvik + threads + " -lmax 7 -ofile dev/m m.sdf > run.txt"), 1);
    const std::string said = read_text(dir + "/run.txt");
    EXPECT_NE(said.find("can't write the file 'dev/m_frag.sdf': " + reason + "\n"),
              std::string::npos)
        << threads << said;
    EXPECT_EQ(read_text(dev + "/m.out"), out);
    EXPECT_EQ(read_text(dev + "/m_frag.sdf"), frag);
    EXPECT_EQ(names_in(dev), names);
    const std::vector<std::string> before = names_in(dir);
    EXPECT_EQ(shell(dir, "trap '' XFSZ; ulimit -f 16; " + kSarvik + threads +
                             " -lmax 3 -dspace s_frag.sdf -ofile d m.sdf > run.txt"),
              1);
    EXPECT_EQ(read_text(dir + "/run.txt"),
              "total compounds = 47\ncan't write the file 'd.out': File too large\n")
        << threads;
    EXPECT_EQ(read_text(dir + "/d.out"), in_space);
    EXPECT_EQ(names_in(dir), before);
  }
  if (mounted) unmount(dev);
}

// Nothing is written beside the input: a read-only input folder works with
// -ofile elsewhere, and links planted at names a run might use are left alone
// (an output name that is a link is replaced, its target kept).
TEST(RunSafety, NothingIsWrittenBesideTheInput) {
  const std::string dir = scratch_dir();
  const std::string in = dir + "/in";
  const bool mounted = mount_tmpfs(in, "4m");
  std::filesystem::copy_file(test_support::data_path("cdk2.sdf"), in + "/m.sdf");
  test_support::write_text(dir + "/victim", "keep me\n");
  std::filesystem::create_symlink(dir + "/victim", in + "/m.sdf.dict");
  std::filesystem::create_symlink(dir + "/victim", dir + "/r.out");
  if (mounted)
    ASSERT_EQ(shell(dir, "mount -o remount,ro in"), 0);
  else if (geteuid() != 0)
    std::filesystem::permissions(in, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
  else
    std::cout << "[ note ] root without tmpfs: the input folder stays writable\n";
  const auto r = run_sarvik({"-lmax", "3", "-ofile", "r", in + "/m.sdf"}, dir);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(read_text(dir + "/victim"), "keep me\n");
  EXPECT_TRUE(std::filesystem::is_symlink(in + "/m.sdf.dict"));
  EXPECT_FALSE(std::filesystem::is_symlink(dir + "/r.out"));
  EXPECT_EQ(read_text(dir + "/r.out").substr(0, 5), "\"ZINC");
  EXPECT_EQ(names_in(in), (std::vector<std::string>{"m.sdf", "m.sdf.dict"}));
  if (mounted)
    unmount(in);
  else
    std::filesystem::permissions(in, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
}

// Running out of memory anywhere, on any thread, ends the run as on one
// thread: "not enough memory" on standard error, status 1, the earlier outputs
// kept and no temporary left. The test build's hook fails allocations past a
// limit; a limit on the address space (ulimit -v) must give status 0 or 1,
// never an abort.
TEST(RunSafety, RunningOutOfMemoryEndsTheRunCleanly) {
  const std::string dir = scratch_dir();
  std::filesystem::copy_file(test_support::data_path("cdk2.sdf"), dir + "/m.sdf");
  ASSERT_EQ(run_sarvik({"-lmax", "2", "m.sdf"}, dir).status, 0);
  const std::string out = read_text(dir + "/m.out");
  const std::string frag = read_text(dir + "/m_frag.sdf");
  const std::vector<std::string> names = names_in(dir);
  const std::string complete = run_sarvik({"-lmax", "7", "-ofile", "c", "m.sdf"}, dir).out;
  std::filesystem::remove(dir + "/c.out");
  std::filesystem::remove(dir + "/c_frag.sdf");
  const std::string hooked = shell_quote(SARVIK_ALLOC_LIMIT_BINARY);
  for (const char* limit : {"20000", "600000", "3000000", "8000000"}) {
    for (const char* threads : {"1", "2", "3"}) {
      SCOPED_TRACE(std::string(limit) + " bytes, " + threads + " threads");
      EXPECT_EQ(shell(dir, std::string("SARVIK_ALLOC_LIMIT=") + limit + " " + hooked +
                               " -threads " + threads + " -lmax 7 m.sdf > o.txt 2> e.txt"),
                1);
      EXPECT_EQ(read_text(dir + "/e.txt"), "utils:22: not enough memory\n");
      const std::string said = read_text(dir + "/o.txt");
      EXPECT_EQ(complete.substr(0, said.size()), said);
      std::filesystem::remove(dir + "/o.txt");
      std::filesystem::remove(dir + "/e.txt");
      EXPECT_EQ(read_text(dir + "/m.out"), out);
      EXPECT_EQ(read_text(dir + "/m_frag.sdf"), frag);
      EXPECT_EQ(names_in(dir), names);
    }
  }
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  for (const char* threads : {"2", "3"}) {
    for (int mb = 200; mb <= 250; mb += 10) {
      SCOPED_TRACE(std::to_string(mb) + " MB, " + threads + " threads");
      const int status = shell(dir, "ulimit -v " + std::to_string(mb * 1024) + "; " + kSarvik +
                                        " -threads " + threads + " -lmax 9 -ofile v m.sdf > o.txt 2> e.txt");
      EXPECT_TRUE(status == 0 || status == 1) << status << read_text(dir + "/e.txt");
      if (status == 1) {
        EXPECT_EQ(read_text(dir + "/e.txt"), "utils:22: not enough memory\n");
      }
    }
  }
#endif
}
