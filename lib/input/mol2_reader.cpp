// Mol2 reader: two passes over the bytes of a Tripos Mol2 file (count and
// collect atom types into the dictionary, then fill). Both passes frame
// molecules with the same scanner over the same bytes, so they agree on the
// molecules.
#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "input/input_detail.h"

namespace sarvik {

namespace {

constexpr ReaderWords kWords{"read mol2 file : ", " in molecule "};

// One molecule's lines. Vectors keep their strings between molecules.
struct Mol2Molecule {
  std::string name_line;
  std::string counts;
  std::vector<std::string> atoms;  // first natoms are this molecule's
  std::vector<std::string> bonds;  // first nbonds are this molecule's
  int natoms = 0;
  int nbonds = 0;
  int atom_count = 0;   // from the counts line
  int bond_count = 0;   // from the counts line when bond_given
  bool bond_given = false;
  long long name_at = 0;               // input line of the name line
  std::vector<long long> atom_at;      // input line of each atom line
  std::vector<long long> bond_at;      // input line of each bond line
};

// The scanner's place in the file: line holds the header line of the next
// molecule when have_header is set.
struct Mol2Scanner {
  LineReader r;
  std::string line;
  bool started = false;
  bool have_header = false;
  std::vector<std::string_view> fields;
};

bool starts_with(const std::string& line, const char* prefix) {
  return line.rfind(prefix, 0) == 0;
}

// The name of a molecule: its name line, or its 1-based position when the
// line is empty or begins with "*" (an unnamed molecule).
std::string mol2_name(const Mol2Molecule& m, int position) {
  if (m.name_line.empty() || m.name_line[0] == '*') return std::to_string(position);
  return m.name_line;
}

// The molecule at input line `line` (0: no one line) of the source being read,
// as failures name it.
CompoundPlace mol2_place(const ReadContext& cx, const Mol2Molecule& m, int position,
                         long long line) {
  return place_of(cx, position, mol2_name(m, position + cx.first_position), line);
}

[[noreturn]] void mol2_refuse(const ReadContext& cx, const std::string& what,
                              const Mol2Molecule& m, int position, long long line) {
  refuse_compound(kWords, what, mol2_place(cx, m, position, line));
}

bool is_separator(char c) { return c == ' ' || c == '\t'; }

// Counts line: from the first digit, the atom count runs to the next separator;
// one character after it is skipped and the bond count runs from there to the
// next separator. An empty second run (right-aligned columns) gives no count.
void parse_counts(Mol2Molecule& m) {
  const std::string& c = m.counts;
  std::size_t p = c.find_first_of("0123456789");
  m.atom_count = 0;
  m.bond_count = 0;
  m.bond_given = false;
  if (p == std::string::npos) return;
  std::size_t q = p;
  while (q < c.size() && !is_separator(c[q])) ++q;
  m.atom_count = leading_int(std::string_view(c).substr(p, q - p));
  if (q + 1 >= c.size()) return;
  std::size_t s = q + 1;
  std::size_t t = s;
  while (t < c.size() && !is_separator(c[t])) ++t;
  if (t == s) return;
  m.bond_count = leading_int(std::string_view(c).substr(s, t - s));
  m.bond_given = true;
}

// The vertex label of an atom type: the whole type, or under NoAtmLabels the
// part before its first ".".
std::string_view vertex_label(const ReadContext& cx, std::string_view type) {
  if (cx.NoAtmLabels == 1) return type.substr(0, type.find('.'));
  return type;
}

// Stores s.line as line k of lines (swapping, so no copy is made) and its input
// line number as entry k of at.
void keep_line(Mol2Scanner& s, std::vector<std::string>& lines, std::vector<long long>& at, int k) {
  if (static_cast<int>(lines.size()) <= k) {
    lines.resize(k + 1);
    at.resize(k + 1);
  }
  lines[k].swap(s.line);
  at[k] = s.r.line;
}

// Reads the next molecule. False when no molecule follows: no further
// "@<TRIPOS>MOLECULE" line, or one that ends the file. A molecule without a
// "@<TRIPOS>BOND" section has no bonds. Refuses molecules whose layout or
// counts are broken.
bool mol2_next_molecule(const ReadContext& cx, Mol2Scanner& s, Mol2Molecule& m, int position) {
  if (!s.started) {
    s.started = true;
    while (read_line(s.r, s.line)) {
      if (starts_with(s.line, "@<TRIPOS>MOLECULE")) {
        s.have_header = true;
        break;
      }
    }
  }
  if (!s.have_header) return false;
  s.have_header = false;
  m.natoms = 0;
  m.nbonds = 0;
  if (!read_line(s.r, m.name_line)) return false;
  m.name_at = s.r.line;
  if (!read_line(s.r, m.counts))
    mol2_refuse(cx, "file ends before the counts line", m, position, s.r.line);
  parse_counts(m);
  // Optional lines (type, charges, status bits, comment) up to the first section.
  bool more;
  while ((more = read_line(s.r, s.line)) && !starts_with(s.line, "@<TRIPOS>")) {
  }
  if (!more || !starts_with(s.line, "@<TRIPOS>ATOM"))
    mol2_refuse(cx, "no @<TRIPOS>ATOM line after the counts line", m, position, s.r.line);
  while ((more = read_line(s.r, s.line)) && !starts_with(s.line, "@<TRIPOS>")) {
    if (is_blank(s.line)) continue;
    split_fields(s.line, s.fields);
    if (s.fields.size() < 6)
      mol2_refuse(cx, "fewer than 6 fields in atom line " + std::to_string(m.natoms + 1), m,
                  position, s.r.line);
    keep_line(s, m.atoms, m.atom_at, m.natoms++);
  }
  // Sections other than the bonds (UNITY_ATOM_ATTR and the like) are skipped.
  while (more && !starts_with(s.line, "@<TRIPOS>BOND") &&
         !starts_with(s.line, "@<TRIPOS>MOLECULE"))
    more = read_line(s.r, s.line);
  if (more && starts_with(s.line, "@<TRIPOS>BOND")) {
    while ((more = read_line(s.r, s.line)) && !starts_with(s.line, "@<TRIPOS>") &&
           !is_blank(s.line)) {
      split_fields(s.line, s.fields);
      if (s.fields.size() < 4)
        mol2_refuse(cx, "fewer than 4 fields in bond line " + std::to_string(m.nbonds + 1), m,
                    position, s.r.line);
      keep_line(s, m.bonds, m.bond_at, m.nbonds++);
    }
    while (more && !starts_with(s.line, "@<TRIPOS>MOLECULE")) more = read_line(s.r, s.line);
  }
  s.have_header = more;
  if (m.natoms != m.atom_count)
    mol2_refuse(cx, std::to_string(m.natoms) + " atom lines for an atom count of " +
                    std::to_string(m.atom_count),
                m, position, m.name_at + 1);
  if (m.bond_given && m.nbonds != m.bond_count)
    mol2_refuse(cx, std::to_string(m.nbonds) + " bond lines for a bond count of " +
                    std::to_string(m.bond_count),
                m, position, m.name_at + 1);
  return true;
}

// Opens the scanner at `at`, lines counted from `line`, summing [sum_from,
// sum_to); `header` when `at` is behind a molecule's header line.
void scanner_open(Mol2Scanner& s, const Source& input, const ReadContext& cx, std::size_t at,
                  long long line, std::size_t sum_from, std::size_t sum_to, bool header) {
  line_reader_open(s.r, input, at, line, sum_from, sum_to, cx.window);
  s.started = header;
  s.have_header = header;
}

// A non-empty input in which no molecule was found is no Mol2 file.
[[noreturn]] void no_molecule(const ReadContext& cx, const Source& input) {
  // What the whole input holds, window by window; a word may span two windows.
  bool newline = false, carriage_return = false, sd = false;
  std::string tail;
  scan_source(input, 0, [&](std::string_view bytes) {
    newline = newline || bytes.find('\n') != std::string_view::npos;
    carriage_return = carriage_return || bytes.find('\r') != std::string_view::npos;
    std::string seam = tail + std::string(bytes.substr(0, 4));
    sd = sd || seam.find("V2000") != std::string::npos || seam.find("$$$$") != std::string::npos ||
         bytes.find("V2000") != std::string_view::npos || bytes.find("$$$$") != std::string_view::npos;
    tail = std::string(bytes.substr(bytes.size() - std::min<std::size_t>(bytes.size(), 4)));
  });
  std::string hint;
  if (!newline && carriage_return)
    hint = " (its lines end in carriage returns only, which do not end a line here)";
  else if (sd)
    hint = " (this looks like an SD file: only names ending in .mol2 are read as Mol2)";
  refuse_smiles(input, cx, "read mol2 file : ");
  error("read mol2 file : no molecule found in " + source_named(cx) +
        ": no line begins with @<TRIPOS>MOLECULE" + hint + "\n");
}

// The 0-based atom number of bond field `field` (1 or 2) of bond line k of
// molecule g at `place`; refuses a field that is not a number from 1 to the
// atom count.
int mol2_bond_atom(const CompoundPlace& place, int k, std::string_view field, const Graph& g) {
  const bool numeric = is_number_field(field);
  return bond_atom(kWords, place, field, numeric, numeric ? leading_int(field) : 0, k, g);
}

}  // namespace

namespace {

// The first pass over the molecules whose header lines begin at `begin` (0: from
// the start of input, skipping what comes before the first header) up to the
// header line at `end` (npos: to the end of input), summing those bytes.
// Messages number molecules and lines from `begin`, so they are exact for a
// part that begins the input.
FirstPassPart mol2_first_pass_part(const ReadContext& cx, const Source& input, std::size_t begin,
                                   std::size_t end) {
  FirstPassPart part;
  Mol2Scanner s;
  scanner_open(s, input, cx, begin, 0, begin, end, begin > 0);
  // Behind the header line, as the molecule before leaves the scanner (whose
  // part counted the line).
  if (begin > 0) {
    read_line(s.r, s.line);
    s.r.line = 0;
  }
  Mol2Molecule m;
  std::unordered_set<std::string> seen;
  // The scanner stops having read the header line of the next molecule, which
  // begins at s.r.line_start.
  for (RecordStart at{s.r.pos, s.r.line, 0};
       !(s.have_header && s.r.line_start >= end) && mol2_next_molecule(cx, s, m, part.count + 1);
       at = {s.r.pos, s.r.line, part.count}) {
    if ((part.count & 255) == 0) check_cancel(cx.cancel);
    if (part.count % cx.stride == 0) part.starts.push_back(at);
    ++part.count;
    for (int k = 0; k < m.natoms; ++k) {
      split_fields(m.atoms[k], s.fields);
      const std::string_view type = s.fields[5];
      if (std::any_of(type.begin(), type.end(), control_byte))
        mol2_refuse(cx,
                    "atom type '" + shown(type) + "' in atom line " + std::to_string(k + 1) +
                        " holds a control character",
                    m, part.count, m.atom_at[k]);
      std::string label(vertex_label(cx, type));
      if (label.empty())
        mol2_refuse(cx, "no atom type in atom line " + std::to_string(k + 1), m, part.count,
                    m.atom_at[k]);
      if (seen.insert(label).second) part.labels.push_back(std::move(label));
    }
  }
  part.lines = s.r.line;
  part.exact = end == std::string_view::npos || (s.have_header && s.r.line_start == end);
  part.sum = line_reader_finish(s.r);
  return part;
}

// The first line at or after `from` that begins a molecule; npos when there is
// none.
std::size_t mol2_part_boundary(const ReadContext& cx, const Source& input, std::size_t from) {
  std::string line;
  LineReader r;
  // From the start of the first line at or after `from`.
  line_reader_open(r, input, from > 0 ? from - 1 : 0, 0, 0, 0, cx.window);
  if (from > 0) read_line(r, line);
  while (read_line(r, line))
    if (starts_with(line, "@<TRIPOS>MOLECULE") && r.line_start > 0) return r.line_start;
  return std::string_view::npos;
}

}  // namespace

FirstPassPart calculate_total_comps_mol2(const Source& input, const ReadContext& cx,
                                         int threads) {
  FirstPassPart all = whole_first_pass(
      source_size(input), threads,
      [&cx, &input](std::size_t begin, std::size_t end) {
        return mol2_first_pass_part(cx, input, begin, end);
      },
      [&cx, &input](std::size_t from) { return mol2_part_boundary(cx, input, from); });
  if (all.count == 0) {
    bool blank = true;
    scan_source(input, 0, [&blank](std::string_view bytes) { blank = blank && is_blank_text(bytes); });
    if (!blank) no_molecule(cx, input);
  }
  return all;
}

// The bond type of a Mol2 bond type field: null for one left out of the
// compound (nc, du, un), the first under -NoBndLabels; refuses any other.
const BondType* mol2_bond_type(const ReadContext& cx, const CompoundPlace& place,
                               std::string_view field) {
  if (field == "nc" || field == "du" || field == "un") return nullptr;
  if (cx.NoBndLabels == 1) return &kBondTypes[0];
  for (const BondType& t : kBondTypes)
    if (field == t.mol2) return &t;
  refuse_compound(kWords, "edge label not valid " + shown(field), place);
}

int read_mol2_file(const Source& input, const ReadContext& cx, const GraphSink& take,
                   const RecordRun& run, ByteSum* sum) {
  Mol2Scanner s;
  // Behind a molecule's header line, which the molecule before has read.
  if (run.first > 0)
    scanner_open(s, input, cx, run.at.pos, run.at.line, run.sum_from, run.sum_to, true);
  else
    scanner_open(s, input, cx, 0, 0, run.sum_from, run.sum_to, false);
  Mol2Molecule m;
  std::string label;
  CompoundBuilder b;
  Graph& g = b.g;
  int num = run.first;
  try {
    while (num - run.first < run.count && mol2_next_molecule(cx, s, m, num + 1)) {
      if ((num & 255) == 0) check_cancel(cx.cancel);
      b.place = mol2_place(cx, m, num + 1, m.name_at + 1);
      at_place(b.place, [&] {
        // Without a bond count on the counts line the bond lines are the limit.
        begin_compound(b, m.natoms, m.bond_given ? m.bond_count : m.nbonds);
        for (int k = 0; k < g.vs; ++k) {
          split_fields(m.atoms[k], s.fields);
          label = vertex_label(cx, s.fields[5]);
          g.vl[k] = graph_index_vertex_labelset(label, *cx.ls);
        }
        for (int k = 0; k < m.nbonds; ++k) {
          split_fields(m.bonds[k], s.fields);
          b.place.line = m.bond_at[k];
          const BondType* type = mol2_bond_type(cx, b.place, s.fields[3]);
          if (type == nullptr) continue;
          const int i = mol2_bond_atom(b.place, k, s.fields[1], g);
          const int j = mol2_bond_atom(b.place, k, s.fields[2], g);
          b.bonds.push_back({i, j, graph_index_edge_labelset(type->label, *cx.ls), k});
        }
        finish_compound(b, cx.bond_numbers);
      });
      take(num, b.place.name, g);
      ++num;
    }
  } catch (const Error& e) {
    // The caller compares what was read with the first pass before it
    // believes the failure.
    if (e.kind() == ErrorKind::input && sum != nullptr) *sum = line_reader_finish(s.r);
    throw;
  }
  if (sum != nullptr) *sum = line_reader_finish(s.r);
  return num - run.first;
}

}  // namespace sarvik
