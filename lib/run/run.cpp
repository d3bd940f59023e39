// The run: settings, loading, the length sweep, the descriptor file, clean-up.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "canon/cl_freq.h"
#include "run/run_detail.h"
#include "common/common.h"
#include "enumerate/tree_freq.h"
#include "input/input.h"
#include "table/table.h"

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// A standard stream started closed would lend its descriptor to the fragment
// file, and progress lines would land in that file: closed ones get /dev/null.
void guard_standard_descriptors() {
#ifndef _WIN32
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
#endif
}

// A line on standard error, when that is a terminal, showing how far the
// current length has come; redrawn a few times a second and erased at the end of
// the length. Standard output keeps exactly its lines.
struct LiveProgress {
  bool on = false;
  std::size_t width = 0;  // characters of the line now shown
  std::chrono::steady_clock::time_point last{};

  void show(int length, int done, int total, int fragments) {
    if (!on) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last < std::chrono::milliseconds(250)) return;
    last = now;
    char text[160];
    const int n = std::snprintf(text, sizeof text, "length %d: %d of %d compounds, %d fragments",
                                length, done, total, fragments);
    const std::size_t len = n > 0 ? static_cast<std::size_t>(n) : 0;
    std::fprintf(stderr, "\r%s", text);
    for (std::size_t k = len; k < width; ++k) std::fputc(' ', stderr);
    width = std::max(width, len);
    std::fflush(stderr);
  }
  void erase() {
    if (width == 0) return;
    std::fputc('\r', stderr);
    for (std::size_t k = 0; k < width; ++k) std::fputc(' ', stderr);
    std::fputc('\r', stderr);
    std::fflush(stderr);
    width = 0;
  }
};

bool stderr_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace

int sarvik_main(int argc, char** argv) {
  guard_standard_descriptors();
  // Progress lines reach a file or pipe as they are printed, not at the end.
#ifdef _WIN32
  // The Windows C library buffers _IOLBF streams fully.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
#endif
  install_memory_handler();
  stop_other_threads = stop_background_threads;
  initialize_var(argc, argv);

  // map grows with the fragment ids as the table hands them out.
  map.clear();
  hashdict.clear();
  FragmentTable hashg = initialize_hash();

  // Both outputs are created before loading, so that a run that cannot write its
  // results says so at once. A run in an earlier run's descriptor space writes no
  // fragment file.
  const bool in_space = !dspace_file.empty();
  const RunOutputs outputs = open_run_outputs(!in_space);

  // The space's records are taken as they are read: only their trees are kept.
  DescriptorSpace space;
  const int no_atm = NoAtmLabels;
  const int no_bnd = NoBndLabels;
  const GraphSink add_to_space = [&space, no_atm, no_bnd](int position, Graph& record) {
    descriptor_space_add(space, position, record, name[position], no_atm, no_bnd);
  };
  std::vector<Graph> G = read_compounds(in_space ? &add_to_space : nullptr);
  const int total = static_cast<int>(G.size());
  if (in_space) descriptor_space_check_repeats(space);

  int count = 0;  // fragment ids handed out, all lengths together
  int k = 0;      // descriptor ids handed out (in a space: met), all lengths together
  LiveProgress live;
  live.on = stderr_is_terminal();
  // A wide counter, so that -lmax at the largest int still ends the sweep.
  for (long long length = mint; length <= maxt; ++length) {
    threshold = static_cast<int>(length);
    std::printf("threshold = %d\n", threshold);
    if (in_space)
      table_begin_space_length(hashg, static_cast<std::size_t>(length) < space.by_length.size()
                                          ? space.by_length[length].id
                                          : std::vector<int>());
    if (threads > 1) {
      enumerate_length_in_parallel(G, hashg, count, in_space ? &space : nullptr, threads,
                                   [&](int done) { live.show(threshold, done, total, in_space ? k : count); });
    } else {
      for (int i = 0; i < total; ++i) {
        find_all_spanning(G[i], ls, count, hashg, opt, i, in_space ? &space : nullptr);
        // The compound's entries of the next length start behind all made so far.
        csrcount[i].offset = csrcount[i].size;
        live.show(threshold, i + 1, total, in_space ? k : count);
      }
    }
    live.erase();
    if (in_space) {
      k += table_end_space_length(hashg);
      std::printf("total upto this threshold = %d,value of k = %d\n", k, k);
      continue;
    }
    if (threads > 1) {
      write_records_in_background(hashg, k, outputs.frag, length == maxt);
    } else {
      sweep_length(hashg, k, outputs.frag);
      check_run_output(outputs.frag);
    }
    std::printf("total upto this threshold = %d,value of k = %d\n", count, k);
  }
  std::printf("total features stored after freq elimination = %d\n", k);

  const long long outside = hashg.outside;
  G.clear();
  G.shrink_to_fit();
  hashg = FragmentTable{};
  cl_free_work_area();

  write_file(total, outputs.out, threads);
  // The last length's fragment records may still be in writing, with the labels.
  finish_background_records();
  stop_background_threads();
  graph_free_labelset(ls);
  commit_run_outputs();
  if (in_space) std::printf("occurrences outside the descriptor space = %lld\n", outside);
  return 0;
}
