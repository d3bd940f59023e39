// SD file reader: two passes over the bytes of a file of V2000 records (count
// and collect atom symbols into the dictionary, then fill). Both passes frame
// records with the same scanner over the same bytes, so they agree on the
// records.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "input/input_detail.h"

namespace sarvik {

namespace {

// 1-based columns of the V2000 fields read, each three characters wide: the
// counts line's atom and bond counts, a bond line's two atom numbers and bond
// type, and an atom line's symbol.
constexpr std::size_t kAtomCountColumn = 1;
constexpr std::size_t kBondCountColumn = 4;
constexpr std::size_t kFirstAtomColumn = 1;
constexpr std::size_t kSecondAtomColumn = 4;
constexpr std::size_t kBondTypeColumn = 7;
constexpr std::size_t kSymbolColumn = 32;

constexpr ReaderWords kWords{"read sdf file : ", " of compound "};

// One record's lines. Vectors keep their strings between records so that
// reading allocates only while lines grow.
struct SdRecord {
  std::string title;
  std::string line2;
  std::string line3;
  std::string counts;
  std::vector<std::string> atoms;  // first natoms are this record's
  std::vector<std::string> bonds;  // first nbonds are this record's
  std::string rest;
  int natoms = 0;
  int nbonds = 0;
  long long first_line = 0;  // input line of the title
};

// The name of a record: its title, or its 1-based position when the title is
// empty.
std::string sd_name(const SdRecord& rec, int position) {
  return rec.title.empty() ? std::to_string(position) : rec.title;
}

// The record at input line `line` (0: no one line) of the source being read, as
// failures name it.
CompoundPlace sd_place(const ReadContext& cx, const SdRecord& rec, int position, long long line) {
  return place_of(cx, position, sd_name(rec, position + cx.first_position), line);
}

[[noreturn]] void sd_refuse(const ReadContext& cx, const std::string& what, const SdRecord& rec,
                            int position, long long line) {
  refuse_compound(kWords, what, sd_place(cx, rec, position, line));
}

// Input lines of a record's counts line, atom line k and bond line k (0-based).
long long counts_line(const SdRecord& rec) { return rec.first_line + 3; }
long long atom_line(const SdRecord& rec, int k) { return rec.first_line + 4 + k; }
long long bond_line(const SdRecord& rec, int k) { return rec.first_line + 4 + rec.natoms + k; }

// Digits among the 1-based columns first .. first + 2 that lie within the line.
std::string column_digits(std::string_view line, std::size_t first) {
  std::string digits;
  for (std::size_t c = first - 1; c < first + 2 && c < line.size(); ++c)
    if (line[c] >= '0' && line[c] <= '9') digits += line[c];
  return digits;
}

// Columns first .. first + 2 (1-based) as far as they lie within the line.
std::string_view columns(std::string_view line, std::size_t first) {
  if (line.size() < first) return {};
  return line.substr(first - 1, 3);
}

// The number that the digits of column_digits spell (0 without any).
int column_number(std::string_view line, std::size_t first) {
  int n = 0;
  for (std::size_t c = first - 1; c < first + 2 && c < line.size(); ++c)
    if (line[c] >= '0' && line[c] <= '9') n = 10 * n + (line[c] - '0');
  return n;
}

// An atom symbol, at most three bytes, as one number: its bytes from the lowest
// byte up, and its length in the top byte.
using SymbolKey = std::uint32_t;

// Whether byte c is white space to std::isspace; letters, digits and the space
// are told without asking it.
bool white_space(char c) {
  if (c == ' ') return true;
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return false;
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The non-white-space characters of the symbol's columns, in order.
SymbolKey atom_symbol(std::string_view line) {
  SymbolKey key = 0;
  unsigned n = 0;
  for (std::size_t c = kSymbolColumn - 1; c < kSymbolColumn + 2 && c < line.size(); ++c)
    if (!white_space(line[c])) key |= SymbolKey{static_cast<unsigned char>(line[c])} << (8 * n++);
  return key | n << 24;
}

std::string symbol_text(SymbolKey key) {
  std::string symbol;
  for (unsigned k = 0; k < key >> 24; ++k) symbol += static_cast<char>(key >> (8 * k));
  return symbol;
}

// Atom symbols met so far, each with a number: an open-addressed table that
// stays at most half full.
struct SymbolTable {
  static constexpr SymbolKey kFree = ~SymbolKey{0};
  std::vector<SymbolKey> keys = std::vector<SymbolKey>(64, kFree);
  std::vector<int> values = std::vector<int>(64);
  std::size_t used = 0;
};

std::size_t symbol_slot(const SymbolTable& t, SymbolKey key) {
  const std::size_t mask = t.keys.size() - 1;
  return probe_from((key * 0x9E3779B1u) & mask, mask, [&t, key](std::size_t at) {
    return t.keys[at] == key || t.keys[at] == SymbolTable::kFree;
  });
}

// The number of symbol `key`, or -1 when it has none yet.
int symbol_find(const SymbolTable& t, SymbolKey key) {
  const std::size_t at = symbol_slot(t, key);
  return t.keys[at] == key ? t.values[at] : -1;
}

// Gives symbol `key`, which has none, number `value`.
void symbol_add(SymbolTable& t, SymbolKey key, int value) {
  if (2 * (t.used + 1) > t.keys.size()) {
    SymbolTable grown;
    grown.keys.assign(2 * t.keys.size(), SymbolTable::kFree);
    grown.values.assign(2 * t.keys.size(), 0);
    for (std::size_t k = 0; k < t.keys.size(); ++k)
      if (t.keys[k] != SymbolTable::kFree) symbol_add(grown, t.keys[k], t.values[k]);
    t = std::move(grown);
  }
  const std::size_t at = symbol_slot(t, key);
  t.keys[at] = key;
  t.values[at] = value;
  ++t.used;
}

// True when the line's first space-separated token is "$$$$".
bool is_record_end(std::string_view line) {
  std::size_t s = 0;
  while (s < line.size() && line[s] == ' ') ++s;
  return line.substr(s, 4) == "$$$$" && (line.size() == s + 4 || line[s + 4] == ' ');
}

// A line that cannot stand inside an atom or bond block: the record's end or
// the properties block. Such a line means the counts line promised too much.
bool ends_block_early(std::string_view line) {
  return is_record_end(line) || line.substr(0, 3) == "M  ";
}

bool read_into(LineReader& r, std::vector<std::string>& lines, int k) {
  if (static_cast<int>(lines.size()) <= k) lines.resize(k + 1);
  return read_line(r, lines[k]);
}

// Reads the `count` lines of an atom or bond block into lines, counting them in
// `read`; refuses a block cut short by the end of input (ends) or by a line that
// cannot stand in a block (early).
void read_block(const ReadContext& cx, LineReader& r, const SdRecord& rec, int position,
                std::vector<std::string>& lines, int& read, int count, const char* ends,
                const char* early) {
  for (int k = 0; k < count; ++k) {
    if (!read_into(r, lines, k)) sd_refuse(cx, ends, rec, position, r.line);
    if (ends_block_early(lines[k])) sd_refuse(cx, early, rec, position, r.line);
    read = k + 1;
  }
}

// Refuses the count (atom or bond) of the counts line at column `first`.
[[noreturn]] void counts_refused(const ReadContext& cx, const SdRecord& rec, int position,
                                 const char* which, std::size_t first) {
  std::string what = std::string(which) + " count '" + shown(columns(rec.counts, first)) +
                     "' in the counts line is not a number";
  for (const std::string* line : {&rec.title, &rec.line2, &rec.line3, &rec.counts})
    if (line->rfind("@<TRIPOS>", 0) == 0) {
      what += " (this looks like a Mol2 file: Mol2 input must be named .mol2)";
      break;
    }
  sd_refuse(cx, what, rec, position, counts_line(rec));
}

// Reads the next record. False when the input holds no further record: at end
// of input, or when only blank lines are left. A record whose header, atom and
// bond blocks are complete counts also without a closing "$$$$". Refuses a
// record cut short, a V3000 record, counts that are not numbers and counts
// larger than the blocks.
bool sd_next_record(const ReadContext& cx, LineReader& r, SdRecord& rec, int position) {
  rec.natoms = 0;
  rec.nbonds = 0;
  if (!read_line(r, rec.title)) return false;
  rec.first_line = r.line;
  // A "$$$$" before the counts line means that the record ends before it has
  // begun: a record cut short, or "$$$$" lines in a row.
  if (is_record_end(rec.title))
    sd_refuse(cx, "record ends before its counts line", rec, position, r.line);
  bool blank = is_blank(rec.title);
  for (std::string* line : {&rec.line2, &rec.line3, &rec.counts}) {
    if (!read_line(r, *line)) {
      if (blank) return false;
      sd_refuse(cx, "file ends before the counts line", rec, position, r.line);
    }
    if (is_record_end(*line))
      sd_refuse(cx, "record ends before its counts line", rec, position, r.line);
    blank = blank && is_blank(*line);
  }
  if (blank) {
    // Blank lines up to the end of the input are no record.
    const std::size_t pos = r.pos;
    const long long line = r.line;
    while (read_line(r, rec.rest))
      if (!is_blank(rec.rest)) break;
    if (line_reader_at_end(r) && is_blank(rec.rest)) return false;
    line_reader_seek(r, pos, line);
  }
  if (rec.counts.find("V3000") != std::string::npos)
    throw Error(ErrorKind::input,
                "read sdf file : compound " + shown(sd_name(rec, position)) +
                    " is a V3000 record; only V2000 records are read\n",
                sd_place(cx, rec, position, counts_line(rec)));
  for (const auto& [column, which] : {std::pair{kAtomCountColumn, "atom"},
                                       std::pair{kBondCountColumn, "bond"}})
    if (!is_number_field(columns(rec.counts, column)))
      counts_refused(cx, rec, position, which, column);
  read_block(cx, r, rec, position, rec.atoms, rec.natoms, column_number(rec.counts, kAtomCountColumn),
             "file ends inside the atom block", "atom count larger than the atom lines");
  read_block(cx, r, rec, position, rec.bonds, rec.nbonds, column_number(rec.counts, kBondCountColumn),
             "file ends inside the bond block",
             "atom or bond count larger than the record's lines");
  while (read_line(r, rec.rest))
    if (is_record_end(rec.rest)) return true;
  return true;
}

// The 0-based atom number of the bond field at column `first` of bond line k
// of compound g at `place`; refuses a field that is not a number from 1 to the
// atom count.
int sd_bond_atom(const SdRecord& rec, const CompoundPlace& place, int k, std::size_t first,
                 const Graph& g) {
  const std::string& line = rec.bonds[k];
  return bond_atom(kWords, place, columns(line, first), is_number_field(columns(line, first)),
                   column_number(line, first), k, g);
}

}  // namespace

namespace {

// The first pass over the records from `begin`, a record's start, up to `end`
// (npos: to the end of input), summing those bytes. Messages number records and
// lines from `begin`, so they are exact for a part that begins the input.
FirstPassPart sd_first_pass_part(const ReadContext& cx, const Source& input, std::size_t begin,
                                 std::size_t end) {
  FirstPassPart part;
  LineReader r;
  line_reader_open(r, input, begin, 0, begin, end, cx.window);
  SdRecord rec;
  SymbolTable seen;
  for (RecordStart at{r.pos, r.line, 0}; r.pos < end && sd_next_record(cx, r, rec, part.count + 1);
       at = {r.pos, r.line, part.count}) {
    if ((part.count & 255) == 0) check_cancel(cx.cancel);
    if (part.count % cx.stride == 0) part.starts.push_back(at);
    ++part.count;
    for (int k = 0; k < rec.natoms; ++k) {
      const std::string_view columns_of_symbol = columns(rec.atoms[k], kSymbolColumn);
      if (std::any_of(columns_of_symbol.begin(), columns_of_symbol.end(), control_byte))
        sd_refuse(cx,
                  "atom symbol '" + shown(columns_of_symbol) + "' in atom line " +
                      std::to_string(k + 1) + " holds a control character",
                  rec, part.count, atom_line(rec, k));
      const SymbolKey label = atom_symbol(rec.atoms[k]);
      if (label >> 24 == 0)
        sd_refuse(cx, "no atom symbol in atom line " + std::to_string(k + 1), rec, part.count,
                  atom_line(rec, k));
      if (symbol_find(seen, label) < 0) {
        symbol_add(seen, label, 0);
        part.labels.push_back(symbol_text(label));
      }
    }
  }
  part.lines = r.line;
  part.exact = end == std::string_view::npos || r.pos == end;
  part.sum = line_reader_finish(r);
  return part;
}

// The start of the line behind the first line at or after `from` that ends a
// record ("$$$$" its first token); npos when there is none.
std::size_t sd_part_boundary(const ReadContext& cx, const Source& input, std::size_t from) {
  std::string line;
  LineReader r;
  // From the start of the first line at or after `from`.
  line_reader_open(r, input, from > 0 ? from - 1 : 0, 0, 0, 0, cx.window);
  if (from > 0) read_line(r, line);
  while (read_line(r, line))
    if (is_record_end(line)) return r.pos;
  return std::string_view::npos;
}

}  // namespace

FirstPassPart calculate_total_comps(const Source& input, const ReadContext& cx, int threads) {
  // Input that no SD reading can make sense of gets a message that says why,
  // never the whole file quoted as a compound's name: a first line that is the
  // whole input, with no newline, but carriage returns.
  {
    LineReader r;
    line_reader_open(r, input, 0, 0, 0, 0, cx.window);
    std::string line;
    const bool read = read_line(r, line);
    const std::size_t off = r.pos - r.base;
    const bool newline = off > 0 && off <= r.text.size() && r.text[off - 1] == '\n';
    if (read && !newline && line_reader_at_end(r) && line.find('\r') != std::string::npos)
      error("read sdf file : no record found in " + source_named(cx) +
            " (its lines end in carriage returns only, which do not end a line here)\n");
  }
  refuse_smiles(input, cx, "read sdf file : ");
  return whole_first_pass(
      source_size(input), threads,
      [&cx, &input](std::size_t begin, std::size_t end) {
        return sd_first_pass_part(cx, input, begin, end);
      },
      [&cx, &input](std::size_t from) { return sd_part_boundary(cx, input, from); });
}

int read_sdf_file(const Source& input, const ReadContext& cx, const GraphSink& take,
                  const RecordRun& run, ByteSum* sum) {
  LineReader r;
  line_reader_open(r, input, run.at.pos, run.at.line, run.sum_from, run.sum_to, cx.window);
  SdRecord rec;
  CompoundBuilder b;
  Graph& g = b.g;
  // The label integers of the atom symbols and SD bond types met so far.
  SymbolTable atom_labels;
  std::array<int, kSdBondTypes> bond_labels;
  bond_labels.fill(-1);
  int num = run.first;
  try {
    while (num - run.first < run.count && sd_next_record(cx, r, rec, num + 1)) {
      if ((num & 255) == 0) check_cancel(cx.cancel);
      b.place = sd_place(cx, rec, num + 1, counts_line(rec));
      at_place(b.place, [&] {
        begin_compound(b, rec.natoms, rec.nbonds);
        for (int k = 0; k < g.vs; ++k) {
          const SymbolKey symbol = atom_symbol(rec.atoms[k]);
          int label = symbol_find(atom_labels, symbol);
          if (label < 0) {
            label = graph_index_vertex_labelset(symbol_text(symbol), *cx.ls);
            symbol_add(atom_labels, symbol, label);
          }
          g.vl[k] = label;
        }
        for (int k = 0; k < rec.nbonds; ++k) {
          const std::string& line = rec.bonds[k];
          b.place.line = bond_line(rec, k);
          const int i = sd_bond_atom(rec, b.place, k, kFirstAtomColumn, g);
          const int j = sd_bond_atom(rec, b.place, k, kSecondAtomColumn, g);
          int t = 1;
          if (cx.NoBndLabels == 0) {
            t = column_number(line, kBondTypeColumn);
            if (t < 1 || t > kSdBondTypes)
              error("read sdf file : edge label not valid " + column_digits(line, kBondTypeColumn) +
                    "\n");
          }
          // SD bond type t is bond type t - 1 of the table. Affects output.
          int& label = bond_labels[static_cast<std::size_t>(t - 1)];
          if (label < 0) label = graph_index_edge_labelset(kBondTypes[t - 1].label, *cx.ls);
          b.bonds.push_back({i, j, label, k});
        }
        finish_compound(b, cx.bond_numbers);
      });
      take(num, b.place.name, g);
      ++num;
    }
  } catch (const Error& e) {
    // The caller compares what was read with the first pass before it
    // believes the failure.
    if (e.kind() == ErrorKind::input && sum != nullptr) *sum = line_reader_finish(r);
    throw;
  }
  if (sum != nullptr) *sum = line_reader_finish(r);
  return num - run.first;
}

}  // namespace sarvik
