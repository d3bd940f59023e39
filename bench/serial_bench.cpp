// The serial share of a run on several threads: the processor time of the
// thread that calls the run (what no other thread does: the first pass's merge
// and the label set, entering the workers' chunks, the sweeps, handing every
// output over to its file) as a share of the wall time of the same run on one
// thread; with the wall times of both, whose ratio gives the parallel fraction
// p of Amdahl's law (T_N / T_1 = 1 - p + p / N). The runs alternate, outputs go
// to files as on the command line, and medians are printed.
// Usage: serial_bench FILE [threads (2)] [rounds (3)] [-lmax N] [-dspace SPACE]
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sarvik/sarvik.h"

namespace {

double thread_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Timing {
  double wall = 0;
  double caller = 0;  // processor time of the calling thread
};

Timing run_once(const sarvik::Settings& settings, const sarvik::Source& input,
                const std::optional<sarvik::Source>& space, const std::string& stem) {
  const auto t0 = std::chrono::steady_clock::now();
  const double c0 = thread_seconds();
  {
    sarvik::OutputPair files(space ? std::string() : stem + "_frag.sdf", stem + ".out", {input.path});
    sarvik::run(settings, input, space ? &*space : nullptr, files.sinks(sarvik::Sinks{}));
  }
  return Timing{std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(),
                thread_seconds() - c0};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [threads] [rounds] [-lmax N] [-dspace SPACE]\n", argv[0]);
    return 2;
  }
  const sarvik::Source input{argv[1], sarvik::format_of(argv[1]), std::nullopt};
  int threads = 2, rounds = 3;
  int at = 2;
  if (at < argc && argv[at][0] != '-') threads = std::atoi(argv[at++]);
  if (at < argc && argv[at][0] != '-') rounds = std::atoi(argv[at++]);
  sarvik::Settings settings;
  std::optional<sarvik::Source> space;
  for (; at + 1 < argc; at += 2) {
    if (std::strcmp(argv[at], "-lmax") == 0) settings.maxt = std::atoi(argv[at + 1]);
    if (std::strcmp(argv[at], "-dspace") == 0) space = sarvik::Source{argv[at + 1], input.format, std::nullopt};
  }
  const std::string stem = (std::filesystem::temp_directory_path() / "serial_bench").string();
  std::vector<double> one, many, caller, caller_one;
  for (int r = 0; r < rounds; ++r) {
    settings.threads = 1;
    const Timing a = run_once(settings, input, space, stem);
    settings.threads = threads;
    const Timing b = run_once(settings, input, space, stem);
    one.push_back(a.wall);
    caller_one.push_back(a.caller);
    many.push_back(b.wall);
    caller.push_back(b.caller);
    std::printf("round %d: 1 thread %.2f s; %d threads %.2f s, calling thread busy %.3f s\n", r + 1,
                a.wall, threads, b.wall, b.caller);
  }
  std::filesystem::remove(stem + ".out");
  std::filesystem::remove(stem + "_frag.sdf");
  const double t1 = median(one), tn = median(many), serial = median(caller);
  const double p = (1 - tn / t1) / (1 - 1.0 / threads);
  std::printf("medians: 1 thread %.2f s (calling thread %.2f s of processor time), %d threads %.2f s "
              "(%.2f of 1)\n",
              t1, median(caller_one), threads, tn, tn / t1);
  std::printf("serial share: %.3f s, %.1f %% of the one-thread run; parallel fraction from the "
              "times %.2f; Amdahl's bound from the serial share alone %.2f\n",
              serial, 100 * serial / t1, p, 1 - serial / t1);
  return 0;
}
