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

#include "run/run_detail.h"
#include "common/common.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "input/input.h"
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
};

Pending pending[2];  // fragment file, descriptor file
#ifdef _WIN32
// Console control events (Ctrl-C, Ctrl-Break, a closed console window) reach a
// handler on a thread of their own, which deletes the temporaries by these
// names. A name stays in place until the next run's outputs are opened.
using NativeChar = wchar_t;
std::wstring signal_storage[2];
#else
using NativeChar = char;
#endif
// The temporaries' names as the signal handler sees them; null once renamed or
// removed. Set only while the handler is blocked out by ordering: the strings
// are complete before their pointers are published.
const NativeChar* volatile signal_names[2] = {nullptr, nullptr};

// The system's reason for a failure, or a plain one when it gave none.
std::string reason(int err) { return err != 0 ? std::strerror(err) : "write error"; }

#ifdef _WIN32
// The temporaries are open with delete sharing, so they go even while the run
// still writes them (for good once the process has ended). The process then
// ends at once, as the console's default handler would end it, with status
// STATUS_CONTROL_C_EXIT; nothing else runs meanwhile.
BOOL WINAPI on_console_event(DWORD) {
  for (const wchar_t* volatile& name : signal_names) {
    const wchar_t* n = name;
    if (n) DeleteFileW(n);
  }
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

// The errno value closest to a Windows error code, for messages.
int errno_of(DWORD code) {
  switch (code) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EIO;
  }
}

// Volume serial number and file index of the file a path names; false when there
// is none.
bool identity(const std::string& path, std::pair<unsigned long long, unsigned long long>& id) {
  const HANDLE h = CreateFileW(wide_name(path).c_str(), 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!known) return false;
  id = {info.dwVolumeSerialNumber,
        static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
  return true;
}

bool is_folder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(wide_name(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void remove_file(const std::string& path) { DeleteFileW(wide_name(path).c_str()); }

// Creates path exclusively (CREATE_NEW: an existing name, a link included, is
// never opened); null with errno set when it cannot.
FILE* create_exclusive(const std::string& path) {
  const HANDLE h = CreateFileW(wide_name(path).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    errno = errno_of(GetLastError());
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  FILE* fp = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (fp) return fp;
  const int err = errno;
  if (fd >= 0)
    _close(fd);
  else
    CloseHandle(h);
  remove_file(path);
  errno = err;
  return nullptr;
}

// Replaces final_name by temp_name; false with errno set when it cannot.
bool replace_file(const std::string& temp_name, const std::string& final_name) {
  if (MoveFileExW(wide_name(temp_name).c_str(), wide_name(final_name).c_str(),
                  MOVEFILE_REPLACE_EXISTING))
    return true;
  errno = errno_of(GetLastError());
  return false;
}
#else
extern "C" void on_termination_signal(int sig) {
  for (const char* volatile& name : signal_names) {
    const char* n = name;
    if (n) unlink(n);
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

bool is_folder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void remove_file(const std::string& path) { std::remove(path.c_str()); }

// Creates path exclusively (an existing name, a link included, is never
// opened); null with errno set when it cannot.
FILE* create_exclusive(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FILE* fp = fdopen(fd, "wb");
  if (fp) return fp;
  const int err = errno;
  close(fd);
  std::remove(path.c_str());
  errno = err;
  return nullptr;
}

// Renames temp_name over final_name; false with errno set when it cannot.
bool replace_file(const std::string& temp_name, const std::string& final_name) {
  return std::rename(temp_name.c_str(), final_name.c_str()) == 0;
}
#endif

void remove_temporaries() {
  for (int k = 0; k < 2; ++k) {
    signal_names[k] = nullptr;
    Pending& p = pending[k];
    if (p.fp) std::fclose(p.fp);
    p.fp = nullptr;
    if (!p.temp_name.empty()) remove_file(p.temp_name);
    p.temp_name.clear();
  }
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
    FILE* fp = create_exclusive(temp_name);
    if (fp) return fp;
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
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
      if (std::signal(sig, on_termination_signal) == SIG_IGN) std::signal(sig, SIG_IGN);
#endif
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
    if (is_folder(p.final_name))
      error("can't open a file '" + p.final_name + "': " + reason(EISDIR) + "\n");
  }
  for (int k = 0; k < 2; ++k) {
    Pending& p = pending[k];
    if (p.final_name.empty()) continue;
    p.fp = create_temporary(p.final_name, p.temp_name);
    if (!p.fp) error("can't open a file '" + p.final_name + "': " + reason(errno) + "\n");
#ifdef _WIN32
    signal_storage[k] = wide_name(p.temp_name);
    signal_names[k] = signal_storage[k].c_str();
#else
    signal_names[k] = p.temp_name.c_str();
#endif
    // The writers hand over whole blocks of text, each written with one call: a
    // stream buffer would only copy them once more.
    std::setvbuf(p.fp, nullptr, _IONBF, 0);
  }
  return RunOutputs{pending[0].fp, pending[1].fp};
}

namespace {

// Why a write to output fp failed: the write is tried once more, so that errno
// tells. Nothing of a failed write is held back in the unbuffered stream, so one
// more byte is written, to the temporary that the failed run removes.
int write_failure(FILE* fp) {
  errno = 0;
  std::clearerr(fp);
  std::fputc('\n', fp);
  return errno;
}

}  // namespace

void check_run_output(FILE* fp) {
  if (!std::ferror(fp)) return;
  const int err = write_failure(fp);
  for (Pending& p : pending)
    if (p.fp == fp) error("can't write the file '" + p.final_name + "': " + reason(err) + "\n");
}

void start_writing_back(FILE* fp) {
#ifdef __linux__
  // Renaming a temporary over an earlier output makes ext4 write the file out
  // inside the rename; begun earlier, that overlaps other work. A failure here
  // costs only the head start.
  sync_file_range(fileno(fp), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)fp;
#endif
}

void commit_run_outputs() {
  for (Pending& p : pending) {
    if (p.fp == nullptr) continue;
    const bool failed = std::ferror(p.fp);
    const int err = failed ? write_failure(p.fp) : 0;
    const bool close_failed = std::fclose(p.fp) != 0;
    p.fp = nullptr;
    if (failed || close_failed)
      error("can't write the file '" + p.final_name + "': " + reason(failed ? err : errno) +
            "\n");
  }
  for (int k = 0; k < 2; ++k) {
    Pending& p = pending[k];
    if (p.temp_name.empty()) continue;
    if (!replace_file(p.temp_name, p.final_name))
      error("can't write the file '" + p.final_name + "': " + reason(errno) + "\n");
    signal_names[k] = nullptr;
    p.temp_name.clear();
  }
}
