// Memory, file and line helpers shared by the compound readers and the label
// loader.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <new>

#include "input/input.h"

namespace {

[[noreturn]] void out_of_memory() {
  std::fprintf(stderr, "%s:%d: not enough memory\n", "utils", __LINE__);
  std::exit(1);
}

}  // namespace

void install_memory_handler() { std::set_new_handler(out_of_memory); }

std::string read_whole_file(const std::string& path) {
  FILE* fp = std::fopen(path.c_str(), "rb");
  if (fp == nullptr)
    error("can't open a file '" + path + "': " + std::strerror(errno) + "\n");
  // The size a regular file has now is room enough for it; anything read beyond
  // it (the file grows, or is no regular file) grows the text as it comes.
  std::string text;
  std::size_t used = 0;
  std::error_code ec;
  if (std::filesystem::is_regular_file(path, ec)) {
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
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
    std::fclose(fp);
    error("can't read the file '" + path + "': " + std::strerror(err) + "\n");
  }
  std::fclose(fp);
  text.resize(used);
  return text;
}
