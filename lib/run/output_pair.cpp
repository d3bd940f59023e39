// The two output files of a run, committed as a pair. Both are written under
// temporary names in their final folders; the commit moves the earlier files
// aside, renames the new ones over the final names and only then removes the
// earlier ones, journalling each step in the lock file that keeps other runs
// off these outputs. A run that fails or is stopped leaves the earlier results
// as they were; one killed in the middle of its commit leaves a journal from
// which the next run restores a consistent pair.
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
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sarvik {

namespace {

// The system's reason for a failure, or a plain one when it gave none.
std::string reason(int err) { return err != 0 ? std::strerror(err) : "write error"; }

// A temporary's suffix: ".tmp" and 12 hexadecimal digits.
constexpr std::size_t kTempSuffix = 16;

bool is_temp_suffix(std::string_view s) {
  if (s.size() != kTempSuffix || s.substr(0, 4) != ".tmp") return false;
  return std::all_of(s.begin() + 4, s.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
  });
}

// The folder part of a path ("" for the current folder) and the name in it.
std::pair<std::string, std::string> split_path(const std::string& path) {
#ifdef _WIN32
  const std::size_t sep = path.find_last_of("/\\");
#else
  const std::size_t sep = path.find_last_of('/');
#endif
  if (sep == std::string::npos) return {"", path};
  return {path.substr(0, sep + 1), path.substr(sep + 1)};
}

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

bool exists(const std::string& path) {
  return GetFileAttributesW(wide_name(path).c_str()) != INVALID_FILE_ATTRIBUTES;
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

// Renames from over to; 0, or the errno value of the failure. With replace,
// an existing `to` is replaced, else the rename fails on it.
int move_file(const std::string& from, const std::string& to, bool replace) {
  if (MoveFileExW(wide_name(from).c_str(), wide_name(to).c_str(),
                  replace ? MOVEFILE_REPLACE_EXISTING : 0))
    return 0;
  return errno_of(GetLastError());
}

// The names in folder `dir` ("" the current one) that begin with prefix.
std::vector<std::string> names_beginning(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  const HANDLE h = FindFirstFileW(wide_name(dir + prefix + "*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const int n = WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, nullptr, 0, nullptr, nullptr);
    std::string name(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, name.data(), n, nullptr, nullptr);
    name.resize(name.size() - 1);
    names.push_back(name);
  } while (FindNextFileW(h, &found));
  FindClose(h);
  return names;
}

// Opens and locks the lock file at path: kNoFile with errno EWOULDBLOCK when
// another process holds it, with another errno when it cannot be made.
Native lock_file(const std::string& path) {
  const HANDLE h = CreateFileW(wide_name(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) return h;
  const DWORD code = GetLastError();
  errno = code == ERROR_SHARING_VIOLATION ? EWOULDBLOCK : errno_of(code);
  return h;
}

std::string read_lock(Native h) {
  std::string text;
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
  return text;
}

void write_lock(Native h, std::string_view text) {
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(h);
  write_all(h, text);
}

void release_lock(Native h, const std::string& path) {
  CloseHandle(h);
  DeleteFileW(wide_name(path).c_str());
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

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
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

// Renames from over to; 0, or the errno value of the failure. Without
// replace, an existing `to` makes it fail.
int move_file(const std::string& from, const std::string& to, bool replace) {
#ifdef RENAME_NOREPLACE
  if (!replace) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: the name is fresh and the lock is held.
  }
#else
  (void)replace;
#endif
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// The names in folder `dir` ("" the current one) that begin with prefix.
std::vector<std::string> names_beginning(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* e = readdir(d))
    if (std::string_view(e->d_name).starts_with(prefix)) names.emplace_back(e->d_name);
  closedir(d);
  return names;
}

// Opens and locks the lock file at path: kNoFile with errno EWOULDBLOCK when
// another process holds it, with another errno when it cannot be made. The
// lock is taken on the file the path names when it is taken: a file another
// run removed meanwhile is let go and the path opened again.
Native lock_file(const std::string& path) {
  for (;;) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) return kNoFile;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      close(fd);
      errno = err == EWOULDBLOCK ? EWOULDBLOCK : err;
      return kNoFile;
    }
    struct stat held;
    struct stat named;
    if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino)
      return fd;
    close(fd);
  }
}

std::string read_lock(Native fd) {
  std::string text;
  char buf[4096];
  ssize_t n;
  off_t at = 0;
  while ((n = pread(fd, buf, sizeof buf, at)) > 0) {
    text.append(buf, static_cast<std::size_t>(n));
    at += n;
  }
  return text;
}

void write_lock(Native fd, std::string_view text) {
  if (ftruncate(fd, 0) != 0) return;
  for (off_t at = 0; !text.empty();) {
    const ssize_t n = pwrite(fd, text.data(), text.size(), at);
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
    at += n;
  }
}

// Removes the lock file while holding it, then lets it go.
void release_lock(Native fd, const std::string& path) {
  unlink(path.c_str());
  close(fd);
}
#endif

#ifdef _WIN32
Native native(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
std::intptr_t stored(Native h) { return reinterpret_cast<std::intptr_t>(h); }
#else
Native native(std::intptr_t h) { return static_cast<int>(h); }
std::intptr_t stored(Native h) { return h; }
#endif

// One output of a commit as the journal records it.
struct Entry {
  bool had_earlier = false;  // the final name held a file before the commit
  std::string final_name;
  std::string temp_name;     // the new file until it is in place
  std::string backup_name;   // the earlier file while the commit goes on
};

// The journal of a commit: "commit", then per output its fields, then "end",
// every field ended by a NUL byte (names may hold any other byte).
std::string journal_text(const std::vector<Entry>& entries) {
  std::string text = "commit";
  text += '\0';
  for (const Entry& e : entries) {
    for (const std::string* field :
         {&e.final_name, &e.temp_name, &e.backup_name}) {
      text += *field;
      text += '\0';
    }
    text += e.had_earlier ? "1" : "0";
    text += '\0';
  }
  text += "end";
  text += '\0';
  return text;
}

// The entries of a complete journal; none for anything else (no commit begun,
// or a journal cut short, before which nothing was renamed).
std::vector<Entry> parse_journal(const std::string& text) {
  std::vector<std::string> fields;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t nul = text.find('\0', at);
    if (nul == std::string::npos) return {};
    fields.push_back(text.substr(at, nul - at));
    at = nul + 1;
  }
  if (fields.size() < 2 || fields.front() != "commit" || fields.back() != "end" ||
      (fields.size() - 2) % 4 != 0)
    return {};
  std::vector<Entry> entries;
  for (std::size_t k = 1; k + 1 < fields.size(); k += 4)
    entries.push_back(Entry{fields[k + 3] == "1", fields[k], fields[k + 1], fields[k + 2]});
  return entries;
}

// Puts back a consistent pair from what a commit killed in the middle left:
// the earlier pair while it is whole, the new pair once the commit had begun
// to remove the earlier files (every new file was in place by then).
void recover(const std::vector<Entry>& entries) {
  bool removing = false;
  for (const Entry& e : entries)
    removing = removing || (e.had_earlier && !exists(e.backup_name) && !exists(e.temp_name));
  for (const Entry& e : entries) {
    if (removing) {
      remove_file(e.backup_name);
    } else if (exists(e.backup_name)) {
      move_file(e.backup_name, e.final_name, true);
    } else if (!e.had_earlier && !exists(e.temp_name)) {
      remove_file(e.final_name);  // the new file of a name that had none
    }
    remove_file(e.temp_name);
  }
}

// Removes what dead processes left beside final_name: temporaries of its name.
void remove_leftovers(const std::string& final_name) {
  const auto [dir, name] = split_path(final_name);
  for (const std::string& found : names_beginning(dir, name + ".tmp"))
    if (is_temp_suffix(std::string_view(found).substr(name.size()))) remove_file(dir + found);
}

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

// The lock beside the outputs, which journals a commit in progress.
struct OutputPair::Lock {
  std::string path;
  Native handle = kNoFile;
  ~Lock() {
    if (handle != kNoFile) release_lock(handle, path);
  }
};

OutputPair::OutputPair(const std::string& fragment_path, const std::string& descriptor_path,
                       const std::vector<std::string>& inputs, const std::string& space) {
  files_.resize(2);
  files_[0].final_name = fragment_path;
  files_[1].final_name = descriptor_path;
  std::vector<std::string> named = inputs;
  if (!space.empty()) named.push_back(space);
  for (const File& f : files_) {
    if (f.final_name.empty()) continue;
    std::pair<unsigned long long, unsigned long long> id;
    std::pair<unsigned long long, unsigned long long> input_id;
    for (const std::string& input : named)
      if (!input.empty() && identity(input, input_id) && identity(f.final_name, id) &&
          id == input_id)
        error(ErrorKind::output, "can't write the file '" + f.final_name + "': it is the " +
                                     (input == space ? "descriptor space '" : "input file '") +
                                     input + "'\n");
    if (is_folder(f.final_name))
      error(ErrorKind::output,
            "can't open a file '" + f.final_name + "': " + reason(EISDIR) + "\n");
  }
  // The lock first: no other run removes or renames these outputs while it is
  // held. Where it cannot be made, neither could the outputs.
  const std::string& first = fragment_path.empty() ? descriptor_path : fragment_path;
  lock_ = std::make_unique<Lock>();
  lock_->path = descriptor_path + ".lock";
  lock_->handle = lock_file(lock_->path);
  if (lock_->handle == kNoFile) {
    const int err = errno;
    if (err == EWOULDBLOCK)
      error(ErrorKind::output, "can't write the file '" + descriptor_path +
                                   "': another run is writing it now (it holds '" +
                                   lock_->path + "'): wait for it, or give another -ofile\n");
    error(ErrorKind::output, "can't open a file '" + first + "': " + reason(err) + "\n");
  }
  // What a killed run left: a commit to finish or undo, and temporaries.
  const std::vector<Entry> journal = parse_journal(read_lock(lock_->handle));
  recover(journal);
  for (const Entry& e : journal) remove_leftovers(e.final_name);
  for (const File& f : files_)
    if (!f.final_name.empty()) remove_leftovers(f.final_name);
  write_lock(lock_->handle, "");

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

void OutputPair::on_commit_step(std::function<void(int step)> hook) { step_hook_ = std::move(hook); }

void OutputPair::commit() {
  const auto step = [this](int n) {
    if (step_hook_) step_hook_(n);
  };
  for (File& f : files_) {
    if (f.handle == kNoFile) continue;
    const int err = close_file(f.handle);
    f.handle = kNoFile;
    if (err != 0) f.write_failed(err);
  }
  // A folder that took an output's name meanwhile is found before anything moves.
  for (const File& f : files_)
    if (!f.temp_name.empty() && is_folder(f.final_name)) f.write_failed(EISDIR);
  std::mt19937_64 random{std::random_device{}()};
  std::vector<Entry> entries;
  std::vector<File*> moving;
  for (File& f : files_) {
    if (f.temp_name.empty()) continue;
    entries.push_back(Entry{exists(f.final_name), f.final_name, f.temp_name,
                            temporary_name(f.final_name, random)});
    moving.push_back(&f);
  }
  write_lock(lock_->handle, journal_text(entries));
  step(1);
  // Undoes the renames done so far and fails naming the output k.
  const auto undo = [&](std::size_t placed, std::size_t aside, std::size_t k, int err) {
    for (std::size_t j = 0; j < placed; ++j)
      move_file(entries[j].final_name, entries[j].temp_name, false);
    for (std::size_t j = 0; j < aside; ++j)
      if (entries[j].had_earlier) move_file(entries[j].backup_name, entries[j].final_name, true);
    write_lock(lock_->handle, "");
    moving[k]->write_failed(err);
  };
  for (std::size_t k = 0; k < entries.size(); ++k) {
    if (!entries[k].had_earlier) continue;
    const int err = move_file(entries[k].final_name, entries[k].backup_name, false);
    if (err != 0) undo(0, k, k, err);
  }
  step(2);
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const int err = move_file(entries[k].temp_name, entries[k].final_name, true);
    if (err != 0) undo(k, entries.size(), k, err);
    if (k + 1 < entries.size()) step(3);
  }
  for (File* f : moving) f->temp_name.clear();
  step(4);
  for (const Entry& e : entries)
    if (e.had_earlier) remove_file(e.backup_name);
  write_lock(lock_->handle, "");
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
