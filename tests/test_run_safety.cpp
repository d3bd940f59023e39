// What happens around a run: earlier results survive a failed or stopped run;
// nothing is written beside the input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>
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

// The two outputs are committed as one: whenever a run is stopped (SIGTERM)
// or killed (SIGKILL), and whichever rename fails, the pair on disk is the
// earlier one or the new one, never one of each, and nothing is left beside it
// once a run has held the outputs again. The test build pauses the commit at
// a step (SARVIK_COMMIT_PAUSE=<step>:<ms>; 2: earlier files moved aside, 3:
// the first new file in place, 4: both in place).
TEST(RunSafety, ThePairIsCommittedAsOne) {
  const std::string dir = scratch_dir();
  std::filesystem::copy_file(test_support::data_path("cdk2.sdf"), dir + "/m.sdf");
  const std::string hooked = shell_quote(SARVIK_HOOKED_BINARY);
  ASSERT_EQ(run_sarvik({"-lmax", "3", "-ofile", "new", "m.sdf"}, dir).status, 0);
  const std::string new_out = read_text(dir + "/new.out");
  const std::string new_frag = read_text(dir + "/new_frag.sdf");
  const auto earlier = [&] {
    ASSERT_EQ(run_sarvik({"-lmax", "2", "-ofile", "x", "m.sdf"}, dir).status, 0);
  };
  earlier();
  const std::string old_out = read_text(dir + "/x.out");
  const std::string old_frag = read_text(dir + "/x_frag.sdf");
  const std::vector<std::string> names = names_in(dir);
  const auto pair_is = [&](bool is_new, const std::string& what) {
    EXPECT_EQ(read_text(dir + "/x.out"), is_new ? new_out : old_out) << what;
    EXPECT_EQ(read_text(dir + "/x_frag.sdf"), is_new ? new_frag : old_frag) << what;
  };
  // Runs the hooked program pausing at `step` in the background, sends `sig`
  // once the pause has begun, and returns the status.
  const auto stopped = [&](int step, const std::string& sig) {
    return shell(dir, "SARVIK_COMMIT_PAUSE=" + std::to_string(step) + ":3000 " + hooked +
                          " -lmax 3 -ofile x m.sdf > ../pair.txt & pid=$!; "
                          "while [ ! -s x.out.lock ]; do sleep 0.02; done; "
                          "sleep 0.3; kill -" + sig + " $pid; wait $pid");
  };
  // A stop during the commit waits for it: the new pair, then the signal's
  // status.
  for (int step : {2, 3}) {
    EXPECT_EQ(stopped(step, "TERM"), 128 + 15) << step;
    pair_is(true, "stopped at step " + std::to_string(step));
    EXPECT_EQ(names_in(dir), names);
    earlier();
  }
  // Killed in the middle: the next run on these outputs (here one that fails at
  // once) first puts back the earlier pair, while it is whole, and removes
  // what the dead run left.
  for (int step : {2, 3, 4}) {
    EXPECT_EQ(stopped(step, "KILL"), 128 + 9) << step;
    EXPECT_EQ(run_sarvik({"-ofile", "x", "missing.sdf"}, dir).status, 1);
    pair_is(false, "killed at step " + std::to_string(step));
    EXPECT_EQ(names_in(dir), names);
  }
  // The second rename fails (its temporary removed meanwhile): the first is
  // undone and both earlier files are back.
  EXPECT_EQ(shell(dir, "SARVIK_COMMIT_PAUSE=3:1000 " + hooked +
                           " -lmax 3 -ofile x m.sdf > ../pair.txt & pid=$!; "
                           "while [ ! -s x.out.lock ]; do sleep 0.02; done; sleep 0.3; "
                           "for f in x.out.tmp*; do cmp -s \"$f\" new.out && rm \"$f\"; done; "
                           "wait $pid"),
            1);
  const std::string said = read_text(dir + "/../pair.txt");
  EXPECT_TRUE(said.ends_with("can't write the file 'x.out': No such file or directory\n")) << said;
  pair_is(false, "second rename failed");
  EXPECT_EQ(names_in(dir), names);
}

// One writer per output stem: of runs writing one stem at once, one is refused
// while another holds the outputs, and the pair left is always one run's.
TEST(RunSafety, SimultaneousRunsNeverLeaveAMixedPair) {
  const std::string dir = scratch_dir();
  std::filesystem::copy_file(test_support::data_path("cdk2_heavy.sdf"), dir + "/m.sdf");
  ASSERT_EQ(run_sarvik({"-lmax", "2", "-ofile", "a", "m.sdf"}, dir).status, 0);
  ASSERT_EQ(run_sarvik({"-lmax", "2", "-NoBndLabels", "-ofile", "b", "m.sdf"}, dir).status, 0);
  const std::string a = read_text(dir + "/a.out") + read_text(dir + "/a_frag.sdf");
  const std::string b = read_text(dir + "/b.out") + read_text(dir + "/b_frag.sdf");
  int refused = 0;
  for (int k = 0; k < 100; ++k) {
    shell(dir, kSarvik + " -lmax 2 -ofile x m.sdf > ../1.txt & " + kSarvik +
                   " -lmax 2 -NoBndLabels -ofile x m.sdf > ../2.txt; wait");
    const std::string pair = read_text(dir + "/x.out") + read_text(dir + "/x_frag.sdf");
    ASSERT_TRUE(pair == a || pair == b) << k;
    for (const char* said : {"/../1.txt", "/../2.txt"})
      if (read_text(dir + said).find("another run is writing it now") != std::string::npos) ++refused;
  }
  EXPECT_EQ(names_in(dir), (std::vector<std::string>{"a.out", "a_frag.sdf", "b.out", "b_frag.sdf",
                                                     "m.sdf", "x.out", "x_frag.sdf"}));
  std::cout << "[ note ] " << refused << " of 200 runs refused while another held the outputs\n";
}

// A device that fills up mid-run: the write failure names the file and the
// reason, the outputs of the run before are kept, and every thread count says
// exactly what one thread says (nothing of the later steps). One device size
// fails the fragment file, another the descriptor file written after it; a run
// in a descriptor space writes the descriptor file alone. Where no tmpfs can
// be mounted, a file size limit fails the fragment file instead.
TEST(RunSafety, AFullDeviceFailsTheRunAlikeOnEveryThreadCount) {
  const std::string dir = scratch_dir();
  const std::string dev = dir + "/dev";
  std::filesystem::copy_file(test_support::data_path("cdk2.sdf"), dir + "/m.sdf");
  ASSERT_EQ(run_sarvik({"-lmax", "3", "-ofile", "s", "m.sdf"}, dir).status, 0);
  // -lmax 4 writes a fragment file of 373 KB and a descriptor file of 56 KB.
  struct Device {
    std::string size;
    std::string failing;  // what the message says fails
    std::string args;
  };
  // Beside the fragment file, the spilled occurrence lists fill the device
  // before the descriptor file is written.
  std::vector<Device> devices = {
      {"200k", "the file 'dev/m_frag.sdf'", "-lmax 4 -ofile dev/m"},
      {"400k", "a temporary file beside 'dev/m.out'", "-lmax 4 -ofile dev/m"},
      {"40k", "the file 'dev/d.out'", "-lmax 3 -dspace s_frag.sdf -ofile dev/d"}};
  for (const Device& d : devices) {
    SCOPED_TRACE(d.size + " " + d.args);
    std::filesystem::remove_all(dev);
    const bool mounted = mount_tmpfs(dev, d.size);
    // Unmounted however the case ends.
    const std::unique_ptr<const std::string, void (*)(const std::string*)> mount(
        mounted ? &dev : nullptr, [](const std::string* at) { unmount(*at); });
    std::string limit;
    if (!mounted) {
      if (d.size != "200k") continue;
      std::cout << "[ note ] no tmpfs here: a file size limit (ulimit -f) fails the writes\n";
      limit = "trap '' XFSZ; ulimit -f 200; ";
    }
    // Earlier outputs, small enough to leave room.
    ASSERT_EQ(shell(dir, kSarvik + " -lmax 1 -ofile dev/m m.sdf > /dev/null"), 0);
    ASSERT_EQ(shell(dir, kSarvik + " -lmax 3 -dspace s_frag.sdf -ofile dev/d m.sdf > /dev/null"), 0);
    const std::string out = read_text(dev + "/m.out");
    const std::string frag = read_text(dev + "/m_frag.sdf");
    const std::string in_space = read_text(dev + "/d.out");
    const std::vector<std::string> names = names_in(dev);
    const std::string reason = mounted ? "No space left on device" : "File too large";
    std::string one;
    for (const std::string threads : {"1", "2", "3"}) {
      EXPECT_EQ(shell(dir, limit + kSarvik + " -threads " + threads + " " + d.args + " m.sdf > run.txt"),
                1);
      const std::string said = read_text(dir + "/run.txt");
      if (one.empty()) one = said;
      EXPECT_EQ(said, one) << threads << " threads";
      EXPECT_TRUE(said.ends_with("can't write " + d.failing + ": " + reason + "\n"))
          << said;
      EXPECT_EQ(read_text(dev + "/m.out"), out);
      EXPECT_EQ(read_text(dev + "/m_frag.sdf"), frag);
      EXPECT_EQ(read_text(dev + "/d.out"), in_space);
      EXPECT_EQ(names_in(dev), names);
    }
  }
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
  const std::string hooked = shell_quote(SARVIK_HOOKED_BINARY);
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
