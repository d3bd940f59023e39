// SD file reader: two passes over the bytes of a file of V2000 records (count
// and collect atom symbols into the dictionary, then fill). Both passes frame
// records with the same scanner over the same bytes, so they agree on the
// records.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <unordered_set>
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
std::string column_digits(const std::string& line, std::size_t first) {
  std::string digits;
  for (std::size_t c = first - 1; c < first + 2 && c < line.size(); ++c)
    if (line[c] >= '0' && line[c] <= '9') digits += line[c];
  return digits;
}

// Columns first .. first + 2 (1-based) as far as they lie within the line.
std::string_view columns(const std::string& line, std::size_t first) {
  if (line.size() < first) return {};
  return std::string_view(line).substr(first - 1, 3);
}

int column_number(const std::string& line, std::size_t first) {
  return static_cast<int>(leading_digits(column_digits(line, first)));
}

// The non-white-space characters of the symbol's columns, in order.
std::string atom_symbol(const std::string& line) {
  std::string symbol;
  for (std::size_t c = kSymbolColumn - 1; c < kSymbolColumn + 2 && c < line.size(); ++c)
    if (!std::isspace(static_cast<unsigned char>(line[c]))) symbol += line[c];
  return symbol;
}

// True when the line's first space-separated token is "$$$$".
bool is_record_end(const std::string& line) {
  std::size_t s = line.find_first_not_of(' ');
  if (s == std::string::npos) return false;
  std::size_t t = line.find(' ', s);
  if (t == std::string::npos) t = line.size();
  return line.compare(s, t - s, "$$$$") == 0;
}

// A line that cannot stand inside an atom or bond block: the record's end or
// the properties block. Such a line means the counts line promised too much.
bool ends_block_early(const std::string& line) {
  return is_record_end(line) || line.compare(0, 3, "M  ") == 0;
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
  std::unordered_set<std::string> seen;
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
      std::string label = atom_symbol(rec.atoms[k]);
      if (label.empty())
        sd_refuse(cx, "no atom symbol in atom line " + std::to_string(k + 1), rec, part.count,
                  atom_line(rec, k));
      if (seen.insert(label).second) part.labels.push_back(std::move(label));
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
  int num = run.first;
  try {
    while (num - run.first < run.count && sd_next_record(cx, r, rec, num + 1)) {
      if ((num & 255) == 0) check_cancel(cx.cancel);
      b.place = sd_place(cx, rec, num + 1, counts_line(rec));
      at_place(b.place, [&] {
        begin_compound(b, rec.natoms, rec.nbonds);
        for (int k = 0; k < g.vs; ++k)
          g.vl[k] = graph_index_vertex_labelset(atom_symbol(rec.atoms[k]), *cx.ls);
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
          b.bonds.push_back({i, j, graph_index_edge_labelset(kBondTypes[t - 1].label, *cx.ls), k});
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
