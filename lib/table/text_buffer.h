// Text layout for the table module's writers: a record is laid out in a buffer
// and written with one call. The writer asks for room for the longest the record
// can be, then lays it out through a plain char cursor (no check per piece, and
// nothing the compiler must reload after each byte written). Private to src/table.
#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "table/table.h"

namespace sarvik {

struct TextBuffer {
  std::vector<char> buf;
  std::size_t used = 0;

  // A cursor at the end of the text with room for n more characters.
  char* room(std::size_t n) {
    if (buf.size() < used + n) buf.resize(2 * (used + n));
    return buf.data() + used;
  }
  // Ends the text at cursor p (from room).
  void close(const char* p) { used = static_cast<std::size_t>(p - buf.data()); }

  std::string_view text() const { return std::string_view(buf.data(), used); }
};

// Characters of int text at most: sign and ten digits.
inline constexpr std::size_t kIntChars = 11;

// Characters of 64-bit integer text at most: twenty digits.
inline constexpr std::size_t kInt64Chars = 20;

// A string literal; its length is known at compile time.
template <std::size_t N>
inline char* put_lit(char* p, const char (&s)[N]) {
  std::memcpy(p, s, N - 1);
  return p + N - 1;
}

inline char* put_text(char* p, std::string_view s) {
  std::memcpy(p, s.data(), s.size());
  return p + s.size();
}

inline char* put_fill(char* p, char c, std::size_t n) {
  std::memset(p, c, n);
  return p + n;
}

// "00" to "99": the two digits of each number below 100.
inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Digits of x in decimal.
inline int decimal_digits(std::uint32_t x) {
  if (x < 100000) return x < 100 ? 1 + (x >= 10) : x < 1000 ? 3 : x < 10000 ? 4 : 5;
  return x < 10000000 ? 6 + (x >= 1000000) : x < 100000000 ? 8 : x < 1000000000 ? 9 : 10;
}

// x in its n decimal digits (n = decimal_digits(x)), written from the last
// digit back, two at a time.
template <class U>
inline char* put_digits(char* p, U x, int n) {
  char* q = p + n;
  while (x >= 100) {
    const U rest = x / 100;
    q -= 2;
    std::memcpy(q, kDigitPairs + 2 * (x - 100 * rest), 2);
    x = rest;
  }
  if (x >= 10) {
    std::memcpy(q - 2, kDigitPairs + 2 * x, 2);
  } else {
    q[-1] = static_cast<char>('0' + x);
  }
  return p + n;
}

// x in decimal, right-aligned in at least `width` characters (printf's "%*d");
// width at most kIntChars.
inline char* put_int(char* p, int x, int width = 0) {
  if (x >= 0 && x < 1000 && width <= 3) {
    // Small numbers, nearly all of them: at most three digits.
    const int n = x < 10 ? 1 : x < 100 ? 2 : 3;
    for (int k = n; k < width; ++k) *p++ = ' ';
    if (n == 3) *p++ = static_cast<char>('0' + x / 100);
    if (n >= 2) *p++ = static_cast<char>('0' + x / 10 % 10);
    *p++ = static_cast<char>('0' + x % 10);
    return p;
  }
  if (x >= 0) {
    const std::uint32_t u = static_cast<std::uint32_t>(x);
    const int n = decimal_digits(u);
    for (int k = n; k < width; ++k) *p++ = ' ';
    return put_digits(p, u, n);
  }
  char digits[16];
  const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, x);
  const int n = static_cast<int>(r.ptr - digits);
  for (int k = n; k < width; ++k) *p++ = ' ';
  std::memcpy(p, digits, static_cast<std::size_t>(n));
  return p + n;
}

// 0 to 999 right-aligned in three columns ("  0" to "999"), each in four bytes
// (the fourth a space) so that one 4-byte copy writes it.
struct ThreeColumnNumbers {
  char text[1000][4];
};
inline constexpr ThreeColumnNumbers kThreeColumns = [] {
  ThreeColumnNumbers t{};
  for (int x = 0; x < 1000; ++x) {
    t.text[x][0] = x >= 100 ? static_cast<char>('0' + x / 100) : ' ';
    t.text[x][1] = x >= 10 ? static_cast<char>('0' + x / 10 % 10) : ' ';
    t.text[x][2] = static_cast<char>('0' + x % 10);
    t.text[x][3] = ' ';
  }
  return t;
}();

// x right-aligned in at least three characters (printf's "%3d"); for x from 0
// to 999 a fourth byte is written behind, which the room asked for must hold.
inline char* put_int3(char* p, int x) {
  if (x >= 0 && x < 1000) {
    std::memcpy(p, kThreeColumns.text[x], 4);
    return p + 3;
  }
  return put_int(p, x, 3);
}

// x in decimal, as many digits as it has.
inline char* put_uint64(char* p, std::uint64_t x) {
  if (x < 10) {
    *p = static_cast<char>('0' + x);
    return p + 1;
  }
  if (x <= 0xFFFFFFFFu) {
    const std::uint32_t u = static_cast<std::uint32_t>(x);
    return put_digits(p, u, decimal_digits(u));
  }
  return std::to_chars(p, p + kInt64Chars, x).ptr;
}

// The text of SD records that depends on a label alone, laid out once for a
// label set: each atom label's whole atom line (for labels that
// check_sd_atom_label lets pass; others have none), and what each bond label
// puts behind a bond line's atom numbers.
inline constexpr std::size_t kSdAtomLine = 55;
inline constexpr std::size_t kSdBondTail = 16;
struct SdLayout {
  std::vector<std::array<char, kSdAtomLine>> atom_line;  // per atom label
  std::vector<char> atom_fits;                           // per atom label: it has a line
  std::vector<std::array<char, kSdBondTail>> bond_tail;  // per bond label
  std::vector<unsigned char> bond_tail_size;             // per bond label
};
SdLayout sd_layout(const LabelSet& ls);

// The fragment writers' layout: one SD record or one Mol2 molecule for fragment
// graph g (v, vl, e, el, vs and es are read) titled with fragment id `id`,
// appended to text. The SD layout takes atom labels that check_sd_atom_label let
// pass (the sweep checks them).
void append_sdf_record(const Graph& g, int id, const SdLayout& layout, TextBuffer& text);
void append_mol2_record(const Graph& g, int id, const LabelSet& ls, TextBuffer& text);

// Reads back the occurrence lists of the compounds of one block (of
// kOccurrenceBlock compounds), compound after compound, each as descriptor
// pairs through map. Each reader has buffers of its own, so that readers of
// different blocks may work side by side.
struct BlockLists {
  struct Cursor {
    const char* at;
    const char* end;
    const std::vector<int>* id_of;
    bool named;
  };
  std::vector<Cursor> cursors;          // per length with lists
  std::vector<std::vector<char>> bufs;  // per length: bytes read back from a file
};
void block_lists_open(const OccurrenceStore& occ, int block, BlockLists& r);
// The next compound's pairs (id, count) in descriptor-file order.
void block_lists_next(BlockLists& r, const std::vector<int>& map,
                      std::vector<DescriptorCount>& pairs);

// Hands blocks 0 .. blocks-1 to sink in order, block b laid out by layout(b, text)
// into an emptied buffer: on `threads` threads, each laying out a block while
// this thread hands over the blocks before. A failure in a layout ends the
// writing with the first failing block's failure, one of the sink with its own.
void write_in_order(int blocks, int threads, const TextSink& sink,
                    const std::atomic<bool>* cancel,
                    const std::function<void(int block, TextBuffer& text)>& layout);

}  // namespace sarvik
