// Memory, file and line helpers shared by the compound readers and the label
// loader.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "input/input.h"

namespace {

[[noreturn]] void out_of_memory() {
  std::fprintf(stderr, "%s:%d: not enough memory\n", "utils", __LINE__);
  std::exit(1);
}

}  // namespace

void install_memory_handler() { std::set_new_handler(out_of_memory); }

FILE* xfopen(const std::string& path, const char* mode) {
  FILE* fp = std::fopen(path.c_str(), mode);
  if (fp == nullptr) error("can't open a file '" + path + "'\n");
  return fp;
}

char* chomp(char* str) {
  for (char* s = str; *s != '\0'; ++s)
    if (*s == '\n') *s = '\0';
  return str;
}

char* fgetl(std::vector<char>& buf, FILE* fp) {
  if (buf.size() < 2) {
    std::fprintf(stderr, "%s:%d: input buffer size must be greater than 1\n", "utils",
                 __LINE__);
    std::exit(1);
  }
  const int size = static_cast<int>(buf.size());
  if (std::fgets(buf.data(), size, fp) == nullptr) return nullptr;
  std::size_t len = std::strlen(buf.data());
  if (len < static_cast<std::size_t>(size - 1) || buf[len - 1] == '\n') return buf.data();
  // The line is longer than the buffer: grow by 5, 5, 10, 20, ... and read each
  // piece at the old terminating zero.
  std::size_t step = 5;
  for (int round = 0;; ++round) {
    if (round >= 2) step *= 2;
    const std::size_t at = buf.size() - 1;
    buf.resize(buf.size() + step);
    // End of input right at a buffer boundary: the line read so far is whole.
    if (std::fgets(buf.data() + at, static_cast<int>(step + 1), fp) == nullptr) {
      buf[at] = '\0';
      return buf.data();
    }
    const std::size_t piece = std::strlen(buf.data() + at);
    if (piece < step || buf[at + piece - 1] == '\n') return buf.data();
  }
}

void split_line_all_char(const char* str, int* count, std::vector<std::string>& array) {
  array.clear();
  *count = 0;
  if (std::strlen(str) < 2) {
    array.emplace_back("nil");
    return;
  }
  const char* end = std::strchr(str, '\n');
  if (end == nullptr) end = str + std::strlen(str);
  const char* s = str;
  while (s < end) {
    while (s < end && *s == ' ') ++s;
    if (s == end) break;
    const char* t = s;
    while (t < end && *t != ' ') ++t;
    array.emplace_back(s, t);
    s = t;
  }
  if (array.empty()) {
    array.emplace_back("nil");
    return;
  }
  *count = static_cast<int>(array.size());
}
