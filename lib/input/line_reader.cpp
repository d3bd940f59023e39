// The line reader of both formats' passes: a source in memory, or a file read
// in windows through a handle of the reader's own; and the byte sums that tell
// whether two passes over a file read the same bytes.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "input/input_detail.h"

namespace sarvik {

namespace {

constexpr const char* kModule = "line_reader";

// Bytes read at a time beyond the end of a reader's range.
constexpr std::size_t kRangeSlack = 4096;

// ---- byte sums ----

constexpr std::uint64_t kMod = (std::uint64_t{1} << 61) - 1;
constexpr std::uint64_t kBase = 0x1D8E4E27C47D124Full % kMod;

constexpr std::uint64_t reduce(std::uint64_t v) {
  v = (v & kMod) + (v >> 61);
  return v >= kMod ? v - kMod : v;
}

constexpr std::uint64_t mul_mod(std::uint64_t a, std::uint64_t b) {
  const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  return reduce((static_cast<std::uint64_t>(p) & kMod) + static_cast<std::uint64_t>(p >> 61));
}

constexpr std::uint64_t kBase2 = mul_mod(kBase, kBase);

std::uint64_t pow_mod(std::uint64_t e) {
  std::uint64_t result = 1;
  std::uint64_t b = kBase;
  for (; e != 0; e >>= 1) {
    if (e & 1) result = mul_mod(result, b);
    b = mul_mod(b, b);
  }
  return result;
}

// ---- files ----

std::shared_ptr<std::FILE> open_file(const std::string& path) {
  return std::shared_ptr<std::FILE>(open_input_file(path), [](std::FILE* f) { std::fclose(f); });
}

void seek_file(LineReader& r, std::size_t at) {
#ifdef _WIN32
  const int failed = _fseeki64(r.file.get(), static_cast<long long>(at), SEEK_SET);
#else
  const int failed = fseeko(r.file.get(), static_cast<off_t>(at), SEEK_SET);
#endif
  if (failed != 0) {
    const int err = errno;
    error("can't read the file '" + shown(r.path, false) + "': " + std::strerror(err) + "\n");
  }
}

// Sums the bytes of the window from `from` (a place) to its end, as far as they
// lie in the summed range and are not summed yet.
void sum_window(LineReader& r, std::size_t from) {
  const std::size_t end = std::min(r.base + r.text.size(), r.sum_to);
  const std::size_t begin = std::max(from, r.summed);
  if (begin >= end) return;
  // Readers read their range from its start on: nothing before is left out.
  SARVIK_ASSERT(begin == r.summed && begin >= r.base, kModule);
  r.sum = r.sum + byte_sum(begin, r.text.data() + (begin - r.base), end - begin);
  r.summed = end;
}

// Keeps the window's bytes from pos on and reads more behind them (at least a
// window's worth, and as many as are kept, so that a long line costs linear
// time). False at the end of the file.
bool load_more(LineReader& r) {
  if (r.at_eof) return false;
  const std::size_t keep = r.pos - r.base;
  const std::size_t kept = r.text.size() - keep;
  std::size_t want = std::max(r.window, kept);
  // A reader of a range (a run of records) reads little beyond it: the line
  // that ends its last record, or the header line that follows it.
  const std::size_t end = r.pos + kept;
  if (r.sum_to != std::string_view::npos)
    want = std::min(want, std::max(r.sum_to > end ? r.sum_to - end : 0, kRangeSlack));
  if (r.room < kept + want) {
    // New storage, never zeroed, takes the kept bytes; an eighth more than asked
    // for leaves room for the next window with the part of a line it keeps.
    const std::size_t room = kept + want + want / 8;
    std::unique_ptr<char[]> grown = std::make_unique_for_overwrite<char[]>(room);
    if (kept > 0) std::memcpy(grown.get(), r.text.data() + keep, kept);
    r.storage = std::move(grown);
    r.room = room;
  } else if (keep > 0 && kept > 0) {
    std::memmove(r.storage.get(), r.storage.get() + keep, kept);
  }
  r.base = r.pos;
  const std::size_t n = std::fread(r.storage.get() + kept, 1, want, r.file.get());
  if (n < want) {
    if (std::ferror(r.file.get())) {
      const int err = errno;
      error("can't read the file '" + shown(r.path, false) + "': " + std::strerror(err) + "\n");
    }
    r.at_eof = true;
  }
  r.text = std::string_view(r.storage.get(), kept + n);
  sum_window(r, r.base + kept);
  return n > 0;
}

}  // namespace

ByteSum byte_sum(std::uint64_t at, const char* data, std::size_t n) {
  if (n == 0) return {};
  const std::uint64_t first = at / 8;
  const std::uint64_t last = (at + n - 1) / 8;
  // The word at index w, with the bytes outside [at, at + n) as 0.
  const auto partial = [&](std::uint64_t w) {
    const std::uint64_t lo = w * 8;
    std::uint64_t v = 0;
    for (std::uint64_t p = std::max(lo, at); p < std::min(lo + 8, at + n); ++p)
      v |= static_cast<std::uint64_t>(static_cast<unsigned char>(data[p - at])) << (8 * (p - lo));
    return v;
  };
  // Horner from the last word: sum of word(first + j) * K^j, then times K^first.
  // s stays below 2^61 + 4 between steps and is reduced at the end.
  const auto step = [](std::uint64_t s, std::uint64_t v) {
    const unsigned __int128 p = static_cast<unsigned __int128>(s) * kBase + (v & kMod) + (v >> 61);
    const std::uint64_t r = (static_cast<std::uint64_t>(p) & kMod) + static_cast<std::uint64_t>(p >> 61);
    return (r & kMod) + (r >> 61);
  };
  const auto word = [&](std::uint64_t w) {
    std::uint64_t v;
    std::memcpy(&v, data + (w * 8 - at), 8);
    return v;
  };
  std::uint64_t s = step(0, partial(last));
  if (last > first) {
    // Whole words between the first and the last, two at a time: s K^2 + a K + b
    // for word a and the one before it, b, is below 2^124 and one fold brings
    // it below 2^63, another below 2^61 + 8.
    std::uint64_t w = last - 1;
    for (; w > first + 1; w -= 2) {
      const std::uint64_t a = word(w);
      const std::uint64_t b = word(w - 1);
      const unsigned __int128 p = static_cast<unsigned __int128>(s) * kBase2 +
                                  static_cast<unsigned __int128>((a & kMod) + (a >> 61)) * kBase + b;
      const std::uint64_t r = (static_cast<std::uint64_t>(p) & kMod) + static_cast<std::uint64_t>(p >> 61);
      s = (r & kMod) + (r >> 61);
    }
    if (w > first) s = step(s, word(w));
    s = step(s, partial(first));
  }
  return ByteSum{mul_mod(reduce(s), pow_mod(first)), n};
}

ByteSum operator+(const ByteSum& a, const ByteSum& b) {
  return ByteSum{reduce(a.hash + b.hash), a.bytes + b.bytes};
}

void line_reader_open(LineReader& r, const Source& source, std::size_t at, long long line,
                      std::size_t sum_from, std::size_t sum_to, std::size_t window) {
  r.pos = at;
  r.line_start = at;
  r.line = line;
  r.sum = ByteSum{};
  r.sum_from = sum_from;
  r.sum_to = std::max(sum_from, sum_to);
  r.summed = sum_from;
  r.window = std::max<std::size_t>(window, 1);
  if (source.bytes) {
    r.file.reset();
    r.text = *source.bytes;
    r.base = 0;
    r.at_eof = true;
    return;
  }
  r.path = source.path;
  r.file = open_file(source.path);
  r.text = {};
  r.base = at;
  r.at_eof = false;
  if (at > 0) seek_file(r, at);
}

bool read_line(LineReader& r, std::string& line) {
  for (;;) {
    const std::size_t off = r.pos - r.base;
    const char* text = r.text.data();
    const std::size_t size = r.text.size();
    const void* nl = off < size ? std::memchr(text + off, '\n', size - off) : nullptr;
    if (nl == nullptr && !r.at_eof) {
      load_more(r);
      continue;
    }
    if (nl == nullptr && off >= size) {
      line.clear();
      return false;
    }
    const std::size_t stop = nl != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nl) - text) : size;
    // A carriage return before the newline (or before the end of a last line
    // without newline) is dropped.
    std::size_t end = stop;
    if (end > off && text[end - 1] == '\r') --end;
    line.assign(text + off, end - off);
    r.line_start = r.pos;
    r.pos = r.base + (nl != nullptr ? stop + 1 : stop);
    ++r.line;
    return true;
  }
}

void line_reader_seek(LineReader& r, std::size_t pos, long long line) {
  r.line = line;
  if (pos >= r.base && pos <= r.base + r.text.size()) {
    r.pos = pos;
    return;
  }
  SARVIK_ASSERT(r.file != nullptr, kModule);
  seek_file(r, pos);
  r.pos = pos;
  r.base = pos;
  r.text = {};
  r.at_eof = false;
}

bool line_reader_at_end(LineReader& r) {
  while (r.pos - r.base >= r.text.size())
    if (!load_more(r)) return true;
  return false;
}

ByteSum line_reader_finish(LineReader& r) {
  if (r.file == nullptr) {
    const std::size_t end = std::min(r.sum_to, r.text.size());
    if (r.summed < end) {
      r.sum = r.sum + byte_sum(r.summed, r.text.data() + r.summed, end - r.summed);
      r.summed = end;
    }
    return r.sum;
  }
  while (r.summed < r.sum_to) {
    // What is left of the window is summed; read on from its end.
    r.pos = r.base + r.text.size();
    if (!load_more(r)) break;
  }
  return r.sum;
}

void scan_source(const Source& source, std::size_t from,
                 const std::function<void(std::string_view bytes)>& take) {
  if (source.bytes) {
    if (from < source.bytes->size()) take(source.bytes->substr(from));
    return;
  }
  LineReader r;
  line_reader_open(r, source, from);
  while (load_more(r)) {
    take(r.text);
    r.pos = r.base + r.text.size();
  }
}

std::size_t source_size(const Source& source) {
  if (source.bytes) return source.bytes->size();
  std::error_code ec;
#ifdef _WIN32
  const std::uintmax_t size = std::filesystem::file_size(std::filesystem::path(wide_name(source.path)), ec);
#else
  const std::uintmax_t size = std::filesystem::file_size(source.path, ec);
#endif
  return ec ? 0 : static_cast<std::size_t>(size);
}

}  // namespace sarvik
