// The run: settings, loading, the length sweep, the descriptor file, clean-up.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "canon/cl_freq.h"
#include "driver/driver_detail.h"
#include "driver/generate_all_trees_freq.h"
#include "enumerate/tree_freq.h"
#include "input/input.h"
#include "table/table.h"

#ifndef _WIN32
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

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};

}  // namespace

int sarvik_main(int argc, char** argv) {
  guard_standard_descriptors();
  install_memory_handler();
  initialize_var(argc, argv);

  // map grows with the fragment ids as the table hands them out.
  map.clear();
  hashdict.clear();
  FragmentTable hashg = initialize_hash();

  // The fragment file is created before loading, so a stale one of the same name
  // is emptied even when loading then fails.
  std::unique_ptr<FILE, FileCloser> fp(open_rules_file());
  if (!fp) error("can't open a file '" + rules_file_name() + "'\n");

  std::vector<Graph> G = read_compounds();
  const int total = static_cast<int>(G.size());

  int count = 0;  // fragment ids handed out, all lengths together
  int k = 0;      // descriptor ids handed out, all lengths together
  // A wide counter, so that -lmax at the largest int still ends the sweep.
  for (long long length = mint; length <= maxt; ++length) {
    threshold = static_cast<int>(length);
    std::printf("threshold = %d\n", threshold);
    for (int i = 0; i < total; ++i) {
      find_all_spanning(G[i], ls, count, hashg, opt, i);
      // The compound's entries of the next length start behind all made so far.
      csrcount[i].offset = csrcount[i].size;
    }
    sweep_length(hashg, k, fp.get());
    std::printf("total upto this threshold = %d,value of k = %d\n", count, k);
  }
  std::printf("total features stored after freq elimination = %d\n", k);

  G.clear();
  G.shrink_to_fit();
  graph_free_labelset(ls);
  hashg = FragmentTable{};
  cl_free_work_area();

  // A fragment file that could not be written completely is a failed run.
  FILE* frag = fp.release();
  const bool frag_failed = std::ferror(frag) != 0;
  if (std::fclose(frag) != 0 || frag_failed)
    error("can't write the fragment file '" + rules_file_name() + "'\n");

  write_file(total);
  remove_intermediate_files();
  return 0;
}
