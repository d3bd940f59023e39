// The run's output files. Both are written under temporary names in their final
// folders and renamed over the final names only when both are complete, so that
// a run that fails, or is interrupted, leaves earlier results as they were.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "driver/driver_detail.h"
#include "driver/generate_all_trees_freq.h"

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

struct Pending {
  std::string final_name;
  std::string temp_name;
  FILE* fp = nullptr;
  std::vector<char> buffer;  // 1 MiB, so that many small records go out in few writes
};

Pending pending[2];  // fragment file, descriptor file
// The temporaries' names as the signal handler sees them; null once renamed or
// removed. Set only while the handler is blocked out by ordering: the strings
// are complete before their pointers are published.
const char* volatile signal_names[2] = {nullptr, nullptr};

// The system's reason for a failure, or a plain one when it gave none.
std::string reason(int err) { return err != 0 ? std::strerror(err) : "write error"; }

void remove_temporaries() {
  for (int k = 0; k < 2; ++k) {
    signal_names[k] = nullptr;
    Pending& p = pending[k];
    if (p.fp) std::fclose(p.fp);
    p.fp = nullptr;
    if (!p.temp_name.empty()) std::remove(p.temp_name.c_str());
    p.temp_name.clear();
  }
}

extern "C" void on_termination_signal(int sig) {
  for (const char* volatile& name : signal_names) {
    const char* n = name;
#ifdef _WIN32
    if (n) _unlink(n);
#else
    if (n) unlink(n);
#endif
  }
  // End by the same signal, so that the caller sees how the run ended.
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Device and inode of the file a path names, links followed; false when there
// is none.
bool identity(const std::string& path, std::pair<unsigned long long, unsigned long long>& id) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  id = {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
  return true;
}

// Creates a new file with a fresh name beside final_name, exclusively (an
// existing name, a link included, is never opened). Returns the open file and
// sets temp_name; null with errno set when the folder does not take it.
FILE* create_temporary(const std::string& final_name, std::string& temp_name) {
  static std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp%012llx",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    temp_name = final_name + suffix;
#ifdef _WIN32
    FILE* fp = std::fopen(temp_name.c_str(), "wbx");
    if (fp) return fp;
#else
    const int fd = open(temp_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      FILE* fp = fdopen(fd, "wb");
      if (fp) return fp;
      const int err = errno;
      close(fd);
      std::remove(temp_name.c_str());
      errno = err;
      temp_name.clear();
      return nullptr;
    }
#endif
    if (errno != EEXIST) break;
  }
  temp_name.clear();
  return nullptr;
}

}  // namespace

void discard_run_outputs() { remove_temporaries(); }

RunOutputs open_run_outputs(bool with_fragments) {
  static bool hooked = false;
  if (!hooked) {
    hooked = true;
    std::atexit(remove_temporaries);
    // A signal the caller has ignored (a background job's SIGINT, SIGHUP under
    // nohup) stays ignored. A closed terminal or a reader of standard output that
    // went away ends the run like an interrupt.
#ifdef _WIN32
    for (int sig : {SIGINT, SIGTERM})
#else
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
#endif
      if (std::signal(sig, on_termination_signal) == SIG_IGN) std::signal(sig, SIG_IGN);
  }
  remove_temporaries();
  pending[0].final_name = rules_file_name();
  pending[1].final_name = output_file_name();
  // Without fragments only the descriptor file is made.
  if (!with_fragments) pending[0].final_name.clear();
  for (Pending& p : pending) {
    if (p.final_name.empty()) continue;
    std::pair<unsigned long long, unsigned long long> id;
    std::pair<unsigned long long, unsigned long long> input_id;
    for (const std::string& input : {filestub, dspace_file})
      if (!input.empty() && identity(input, input_id) && identity(p.final_name, id) &&
          id == input_id)
        error("can't write the file '" + p.final_name + "': it is the input file '" + input +
              "'\n");
    struct stat st;
    if (stat(p.final_name.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      error("can't open a file '" + p.final_name + "': " + reason(EISDIR) + "\n");
  }
  for (int k = 0; k < 2; ++k) {
    Pending& p = pending[k];
    if (p.final_name.empty()) continue;
    p.fp = create_temporary(p.final_name, p.temp_name);
    if (!p.fp) error("can't open a file '" + p.final_name + "': " + reason(errno) + "\n");
    signal_names[k] = p.temp_name.c_str();
    p.buffer.resize(std::size_t{1} << 20);
    std::setvbuf(p.fp, p.buffer.data(), _IOFBF, p.buffer.size());
  }
  return RunOutputs{pending[0].fp, pending[1].fp};
}

void check_run_output(FILE* fp) {
  if (!std::ferror(fp)) return;
  // The failed write is tried once more, so that errno tells why it failed.
  errno = 0;
  std::fflush(fp);
  const int err = errno;
  for (Pending& p : pending)
    if (p.fp == fp) error("can't write the file '" + p.final_name + "': " + reason(err) + "\n");
}

void commit_run_outputs() {
  for (Pending& p : pending) {
    if (p.fp == nullptr) continue;
    errno = 0;
    const bool failed = std::fflush(p.fp) != 0 || std::ferror(p.fp);
    const int err = errno;
    const bool close_failed = std::fclose(p.fp) != 0;
    p.fp = nullptr;
    if (failed || close_failed)
      error("can't write the file '" + p.final_name + "': " + reason(failed ? err : errno) +
            "\n");
  }
  for (int k = 0; k < 2; ++k) {
    Pending& p = pending[k];
    if (p.temp_name.empty()) continue;
    if (std::rename(p.temp_name.c_str(), p.final_name.c_str()) != 0)
      error("can't write the file '" + p.final_name + "': " + reason(errno) + "\n");
    signal_names[k] = nullptr;
    p.temp_name.clear();
  }
}
