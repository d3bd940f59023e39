// File helpers of the compound readers.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "input/input.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace sarvik {

#ifdef _WIN32
std::wstring wide_name(const std::string& utf8) {
  const int len = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), len, nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), len, w.data(), n);
  return w;
}
#endif

std::FILE* open_input_file(const std::string& path, bool space) {
#ifdef _WIN32
  FILE* fp = _wfopen(wide_name(path).c_str(), L"rb");
#else
  FILE* fp = std::fopen(path.c_str(), "rb");
#endif
  if (fp == nullptr) {
    const int err = errno;
    error((space ? "can't open the descriptor space '" : "can't open a file '") +
          shown(path, false) + "': " + std::strerror(err) + "\n");
  }
  return fp;
}

std::string read_whole_file(const std::string& path, bool space) {
#ifdef _WIN32
  const std::filesystem::path native(wide_name(path));
#else
  const std::filesystem::path native(path);
#endif
  FILE* fp = open_input_file(path, space);
  const std::unique_ptr<FILE, int (*)(FILE*)> closer(fp, std::fclose);
  // The size a regular file has now is room enough for it; anything read beyond
  // it (the file grows, or is no regular file) grows the text as it comes.
  std::string text;
  std::size_t used = 0;
  std::error_code ec;
  if (std::filesystem::is_regular_file(native, ec)) {
    const std::uintmax_t size = std::filesystem::file_size(native, ec);
    if (!ec) text.resize(static_cast<std::size_t>(size) + 1);
  }
  for (;;) {
    if (used == text.size()) text.resize(std::max(text.size() * 2, used + (std::size_t{1} << 16)));
    const std::size_t n = std::fread(text.data() + used, 1, text.size() - used, fp);
    used += n;
    if (n == 0) break;
  }
  // A read error (a directory given as input, say) must not pass for an empty
  // file.
  if (std::ferror(fp)) {
    const int err = errno;
    error((space ? "can't read the descriptor space '" : "can't read the file '") +
          shown(path, false) + "': " + std::strerror(err) + "\n");
  }
  text.resize(used);
  return text;
}

}  // namespace sarvik
