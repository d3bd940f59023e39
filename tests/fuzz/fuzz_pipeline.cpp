// Fuzzing harness over the whole run: readers, enumeration, canonical forms,
// table and both writers. The first byte of an input chooses the options, the
// rest is the compound file. Every input runs twice, on one thread and on three:
// both runs must print the same and end alike, and complete ones write the same
// bytes. Built with libFuzzer (clang) as sarvik_fuzz, and
// with a replaying main as fuzz_replay, which runs the committed corpus under
// the sanitizers on every test run. Each run is a whole command-line run in this
// process: nothing of one is left for the next.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"

namespace {

// A private folder for the input and outputs of every run of this process.
const std::string& work_dir() {
  static const std::string dir = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string t = (tmp && *tmp ? std::string(tmp) : std::string("/tmp")) + "/sarvik_fuzz_XXXXXX";
    if (mkdtemp(t.data()) == nullptr) std::abort();
    return t;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // Option byte: bit 0 Mol2, bits 1-2 fragment type, bit 3 -NoAtmLabels, bit 4
  // -NoBndLabels, bit 5 -fmin 2, bit 6 -lmax 4 (else 2, so each input runs in
  // milliseconds), bit 7 -dspace: the bytes before the first NUL byte are the
  // descriptor space (the whole rest when there is none) and those after it the
  // compounds.
  const std::uint8_t o = data[0];
  const char* ext = (o & 1) ? ".mol2" : ".sdf";
  const std::string input = work_dir() + "/in" + ext;
  const std::string space = work_dir() + "/space_frag" + ext;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string_view space_bytes = bytes;
  if (o & 128) {
    const std::size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos) {
      space_bytes = bytes.substr(0, nul);
      bytes = bytes.substr(nul + 1);
    }
  }
  const auto write = [](const std::string& path, std::string_view b) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fwrite(b.data(), 1, b.size(), f);
    std::fclose(f);
  };
  write(input, bytes);
  if (o & 128) write(space, space_bytes);
  const auto run = [&](const char* threads, const std::string& stem) {
    std::vector<std::string> args = {"Sarvik", "-threads", threads, "-ds",
                                     ((o >> 1) & 3) == 1 ? "TF" : ((o >> 1) & 3) == 2 ? "PF" : "QZ",
                                     "-lmax", (o & 64) ? "4" : "2", "-ofile", stem};
    if (o & 8) args.push_back("-NoAtmLabels");
    if (o & 16) args.push_back("-NoBndLabels");
    if ((o & 32) && !(o & 128)) args.insert(args.end(), {"-fmin", "2"});
    if (o & 128) args.insert(args.end(), {"-dspace", space});
    args.push_back(input);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (std::freopen((stem + ".stdout").c_str(), "w", stdout) == nullptr) std::abort();
    const bool complete = sarvik::cli_main(static_cast<int>(args.size()), argv.data()) == 0;
    std::fflush(stdout);
    return complete;
  };
  const std::string one = work_dir() + "/out";
  const std::string three = work_dir() + "/out3";
  const bool complete = run("1", one);
  if (run("3", three) != complete) std::abort();
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  const auto same = [](const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary);
    std::ifstream fb(b, std::ios::binary);
    return fa && fb && std::equal(std::istreambuf_iterator<char>(fa), std::istreambuf_iterator<char>(),
                                  std::istreambuf_iterator<char>(fb), std::istreambuf_iterator<char>());
  };
  if (!same(one + ".stdout", three + ".stdout")) std::abort();
  if (complete) {
    if (!same(one + ".out", three + ".out")) std::abort();
    if (!(o & 128) && !same(one + "_frag" + ext, three + "_frag" + ext)) std::abort();
  }
  return 0;
}

#ifdef SARVIK_FUZZ_REPLAY
// Runs every file of the folder named on the command line through the harness.
int main(int argc, char** argv) {
  if (argc != 2) return 1;
  int runs = 0;
  for (const auto& e : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream in(e.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++runs;
  }
  std::filesystem::remove_all(work_dir());
  std::fprintf(stderr, "replayed %d inputs\n", runs);
  return runs > 0 ? 0 : 1;
}
#endif
