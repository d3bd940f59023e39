// The two output files of a run. Both are written under temporary names in
// their final folders and renamed over the final names only when both are
// complete, so that a run that fails, or is stopped, leaves earlier results as
// they were.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/common.h"
#include "input/input.h"
#include "run/run_detail.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sarvik {

namespace {

// The system's reason for a failure, or a plain one when it gave none.
std::string reason(int err) { return err != 0 ? std::strerror(err) : "write error"; }

#ifdef _WIN32
using Native = HANDLE;
const Native kNoFile = INVALID_HANDLE_VALUE;

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
// never opened); kNoFile with errno set when it cannot.
Native create_exclusive(const std::string& path) {
  const HANDLE h = CreateFileW(wide_name(path).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) errno = errno_of(GetLastError());
  return h;
}

// Writes all of text; 0, or the errno value of the failure.
int write_all(Native h, std::string_view text) {
  while (!text.empty()) {
    const DWORD n = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(h, text.data(), n, &written, nullptr)) return errno_of(GetLastError());
    if (written == 0) return ENOSPC;
    text.remove_prefix(written);
  }
  return 0;
}

int close_file(Native h) { return CloseHandle(h) ? 0 : errno_of(GetLastError()); }

// Creates path exclusively for reading and writing, removed when closed;
// kNoFile with errno set when it cannot.
Native create_scratch(const std::string& path) {
  const HANDLE h = CreateFileW(wide_name(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                               nullptr);
  if (h == INVALID_HANDLE_VALUE) errno = errno_of(GetLastError());
  return h;
}

// Reads n bytes at place `at`; 0, or the errno value of the failure.
int read_at(Native h, std::uint64_t at, char* dst, std::size_t n) {
  while (n > 0) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    if (!ReadFile(h, dst, want, &got, &where)) return errno_of(GetLastError());
    if (got == 0) return EIO;
    at += got;
    dst += got;
    n -= got;
  }
  return 0;
}

void start_writeback(Native) {}

// Replaces final_name by temp_name; 0, or the errno value of the failure.
int replace_file(const std::string& temp_name, const std::string& final_name) {
  if (MoveFileExW(wide_name(temp_name).c_str(), wide_name(final_name).c_str(),
                  MOVEFILE_REPLACE_EXISTING))
    return 0;
  return errno_of(GetLastError());
}
#else
using Native = int;
const Native kNoFile = -1;

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

void remove_file(const std::string& path) { unlink(path.c_str()); }

// Creates path exclusively (an existing name, a link included, is never
// opened); kNoFile with errno set when it cannot.
Native create_exclusive(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

// Writes all of text; 0, or the errno value of the failure.
int write_all(Native fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return ENOSPC;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

int close_file(Native fd) { return close(fd) == 0 ? 0 : errno; }

// Creates path exclusively for reading and writing and removes its name at
// once (the file lives on while it is open); kNoFile with errno set when it
// cannot.
Native create_scratch(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) unlink(path.c_str());
  return fd;
}

// Reads n bytes at place `at`; 0, or the errno value of the failure.
int read_at(Native fd, std::uint64_t at, char* dst, std::size_t n) {
  while (n > 0) {
    const ssize_t got = pread(fd, dst, n, static_cast<off_t>(at));
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (got == 0) return EIO;
    at += static_cast<std::uint64_t>(got);
    dst += got;
    n -= static_cast<std::size_t>(got);
  }
  return 0;
}

void start_writeback(Native fd) {
#ifdef __linux__
  // Renaming a temporary over an earlier output makes ext4 write the file out
  // inside the rename; begun earlier, that overlaps other work. A failure here
  // costs only the head start.
  sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)fd;
#endif
}

// Renames temp_name over final_name; 0, or the errno value of the failure.
int replace_file(const std::string& temp_name, const std::string& final_name) {
  return std::rename(temp_name.c_str(), final_name.c_str()) == 0 ? 0 : errno;
}
#endif

#ifdef _WIN32
Native native(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
std::intptr_t stored(Native h) { return reinterpret_cast<std::intptr_t>(h); }
#else
Native native(std::intptr_t h) { return static_cast<int>(h); }
std::intptr_t stored(Native h) { return h; }
#endif

// A fresh name beside `stem`: "<stem>.tmp" and 12 random hexadecimal digits.
std::string temporary_name(const std::string& stem, std::mt19937_64& random) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".tmp%012llx",
                static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
  return stem + suffix;
}

}  // namespace

ScratchFile::ScratchFile(const std::string& stem) : stem_(stem) {
  std::mt19937_64 random{std::random_device{}()};
  Native h = kNoFile;
  for (int attempt = 0; attempt < 100 && h == kNoFile; ++attempt) {
    h = create_scratch(temporary_name(stem, random));
    if (h == kNoFile && errno != EEXIST) break;
  }
  if (h == kNoFile) {
    const int err = errno;
    error(ErrorKind::output,
          "can't open a temporary file beside '" + stem + "': " + reason(err) + "\n");
  }
  handle_ = stored(h);
}

ScratchFile::~ScratchFile() { close_file(native(handle_)); }

void ScratchFile::append(std::string_view bytes) {
  const int err = write_all(native(handle_), bytes);
  if (err != 0)
    error(ErrorKind::output,
          "can't write a temporary file beside '" + stem_ + "': " + reason(err) + "\n");
}

void ScratchFile::read(std::uint64_t at, char* dst, std::size_t n) const {
  const int err = read_at(native(handle_), at, dst, n);
  if (err != 0)
    error(ErrorKind::output,
          "can't read a temporary file beside '" + stem_ + "': " + reason(err) + "\n");
}

// One output: its final name, and while it is not committed, its temporary.
struct OutputPair::File {
  std::string final_name;
  std::string temp_name;  // empty once renamed or removed
  Native handle = kNoFile;

  [[noreturn]] void write_failed(int err) const {
    error(ErrorKind::output, "can't write the file '" + final_name + "': " + reason(err) + "\n");
  }
  void write(std::string_view text) const {
    SARVIK_ASSERT(handle != kNoFile, "output_pair");
    const int err = write_all(handle, text);
    if (err != 0) write_failed(err);
  }
};

OutputPair::OutputPair(const std::string& fragment_path, const std::string& descriptor_path,
                       const std::vector<std::string>& inputs) {
  files_.resize(2);
  files_[0].final_name = fragment_path;
  files_[1].final_name = descriptor_path;
  for (const File& f : files_) {
    if (f.final_name.empty()) continue;
    std::pair<unsigned long long, unsigned long long> id;
    std::pair<unsigned long long, unsigned long long> input_id;
    for (const std::string& input : inputs)
      if (!input.empty() && identity(input, input_id) && identity(f.final_name, id) &&
          id == input_id)
        error(ErrorKind::output, "can't write the file '" + f.final_name +
                                     "': it is the input file '" + input + "'\n");
    if (is_folder(f.final_name))
      error(ErrorKind::output,
            "can't open a file '" + f.final_name + "': " + reason(EISDIR) + "\n");
  }
  std::mt19937_64 random{std::random_device{}()};
  for (File& f : files_) {
    if (f.final_name.empty()) continue;
    // A fresh name beside the final name, created exclusively.
    for (int attempt = 0; attempt < 100 && f.handle == kNoFile; ++attempt) {
      const std::string name = temporary_name(f.final_name, random);
      f.handle = create_exclusive(name);
      if (f.handle != kNoFile)
        f.temp_name = name;
      else if (errno != EEXIST)
        break;
    }
    if (f.handle == kNoFile) {
      const int err = errno;
      error(ErrorKind::output, "can't open a file '" + f.final_name + "': " + reason(err) + "\n");
    }
  }
}

OutputPair::~OutputPair() {
  for (File& f : files_) {
    if (f.handle != kNoFile) close_file(f.handle);
    if (!f.temp_name.empty()) remove_file(f.temp_name);
  }
}

void OutputPair::write_fragments(std::string_view text) { files_[0].write(text); }

void OutputPair::write_descriptors(std::string_view text) { files_[1].write(text); }

void OutputPair::fragments_written() {
  if (files_[0].handle != kNoFile) start_writeback(files_[0].handle);
}

void OutputPair::commit() {
  for (File& f : files_) {
    if (f.handle == kNoFile) continue;
    const int err = close_file(f.handle);
    f.handle = kNoFile;
    if (err != 0) f.write_failed(err);
  }
  for (File& f : files_) {
    if (f.temp_name.empty()) continue;
    const int err = replace_file(f.temp_name, f.final_name);
    if (err != 0) f.write_failed(err);
    f.temp_name.clear();
  }
}

Sinks OutputPair::sinks(const Sinks& hooks) {
  Sinks s = hooks;
  if (!files_[0].final_name.empty()) {
    s.fragments = [this](std::string_view text) { write_fragments(text); };
    s.fragments_complete = [this] { fragments_written(); };
  }
  s.descriptors = [this](std::string_view text) { write_descriptors(text); };
  s.scratch = files_[1].final_name;
  s.complete = [this] { commit(); };
  return s;
}

}  // namespace sarvik
