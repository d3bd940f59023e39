// Mol2 reader: two passes over the bytes of a Tripos Mol2 file (count and
// collect atom types into the dictionary, then fill). Both passes frame
// molecules with the same scanner over the same bytes, so they agree on the
// molecules.
#include <cstdio>
#include <unordered_set>

#include "input/input_detail.h"

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

// Makes the molecule the compound that fatal messages name, at input line `line`
// (0: no one line).
void mol2_place(const Mol2Molecule& m, int position, long long line) {
  compound_place() = CompoundPlace{true, position, mol2_name(m, position), line};
}

[[noreturn]] void mol2_refuse(const std::string& what, const Mol2Molecule& m, int position,
                              long long line) {
  refuse_compound(kWords, what, CompoundPlace{true, position, mol2_name(m, position), line});
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
std::string_view vertex_label(std::string_view type) {
  if (NoAtmLabels == 1) return type.substr(0, type.find('.'));
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
bool mol2_next_molecule(Mol2Scanner& s, Mol2Molecule& m, int position) {
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
    mol2_refuse("file ends before the counts line", m, position, s.r.line);
  parse_counts(m);
  // Optional lines (type, charges, status bits, comment) up to the first section.
  bool more;
  while ((more = read_line(s.r, s.line)) && !starts_with(s.line, "@<TRIPOS>")) {
  }
  if (!more || !starts_with(s.line, "@<TRIPOS>ATOM"))
    mol2_refuse("no @<TRIPOS>ATOM line after the counts line", m, position, s.r.line);
  while ((more = read_line(s.r, s.line)) && !starts_with(s.line, "@<TRIPOS>")) {
    if (is_blank(s.line)) continue;
    split_fields(s.line, s.fields);
    if (s.fields.size() < 6)
      mol2_refuse("fewer than 6 fields in atom line " + std::to_string(m.natoms + 1), m,
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
        mol2_refuse("fewer than 4 fields in bond line " + std::to_string(m.nbonds + 1), m,
                    position, s.r.line);
      keep_line(s, m.bonds, m.bond_at, m.nbonds++);
    }
    while (more && !starts_with(s.line, "@<TRIPOS>MOLECULE")) more = read_line(s.r, s.line);
  }
  s.have_header = more;
  if (m.natoms != m.atom_count)
    mol2_refuse(std::to_string(m.natoms) + " atom lines for an atom count of " +
                    std::to_string(m.atom_count),
                m, position, m.name_at + 1);
  if (m.bond_given && m.nbonds != m.bond_count)
    mol2_refuse(std::to_string(m.nbonds) + " bond lines for a bond count of " +
                    std::to_string(m.bond_count),
                m, position, m.name_at + 1);
  return true;
}

void scanner_open(Mol2Scanner& s, std::string_view input) {
  line_reader_open(s.r, input);
  s.started = false;
  s.have_header = false;
}

// A non-empty input in which no molecule was found is no Mol2 file.
[[noreturn]] void no_molecule(std::string_view input) {
  std::string hint;
  if (input.find('\n') == std::string_view::npos && input.find('\r') != std::string_view::npos)
    hint = " (its lines end in carriage returns only, which do not end a line here)";
  else if (input.find("V2000") != std::string_view::npos ||
           input.find("$$$$") != std::string_view::npos)
    hint = " (this looks like an SD file: only names ending in .mol2 are read as Mol2)";
  compound_place().active = false;
  error("read mol2 file : no molecule found in '" + filestub +
        "': no line begins with @<TRIPOS>MOLECULE" + hint + "\n");
}

// The 0-based atom number of bond field `field` (1 or 2) of bond line k of
// molecule g; refuses a field that is not a number from 1 to the atom count.
int mol2_bond_atom(const Mol2Molecule& m, int position, int k, std::string_view field,
                   const Graph& g) {
  const bool numeric = is_number_field(field);
  return bond_atom(kWords, CompoundPlace{true, position, mol2_name(m, position), m.bond_at[k]},
                   field, numeric, numeric ? leading_int(field) : 0, k, g);
}

}  // namespace

namespace {

// The end of the line that begins at `at`.
std::size_t line_end(std::string_view input, std::size_t at) {
  const std::size_t nl = input.find('\n', at);
  return nl == std::string_view::npos ? input.size() : nl + 1;
}

// The first pass over the molecules whose header lines begin at `begin` (0: from
// the start of input, skipping what comes before the first header) up to the
// header line at `end` (npos: to the end of input). Messages number molecules and
// lines from `begin`, so they are exact for a part that begins the input.
FirstPassPart mol2_first_pass_part(std::string_view input, std::size_t begin, std::size_t end) {
  FirstPassPart part;
  Mol2Scanner s;
  scanner_open(s, input);
  if (begin > 0) {
    // Behind the header line, as the molecule before leaves the scanner.
    s.r.pos = line_end(input, begin);
    s.started = true;
    s.have_header = true;
  }
  const std::size_t stop = end == std::string_view::npos ? end : line_end(input, end);
  Mol2Molecule m;
  std::unordered_set<std::string> seen;
  for (RecordStart at{s.r.pos, s.r.line};
       !(s.have_header && s.r.pos >= stop) && mol2_next_molecule(s, m, part.count + 1);
       at = {s.r.pos, s.r.line}) {
    part.starts.push_back(at);
    ++part.count;
    for (int k = 0; k < m.natoms; ++k) {
      split_fields(m.atoms[k], s.fields);
      std::string label(vertex_label(s.fields[5]));
      if (label.empty())
        mol2_refuse("no atom type in atom line " + std::to_string(k + 1), m, part.count,
                    m.atom_at[k]);
      if (seen.insert(label).second) part.labels.push_back(std::move(label));
    }
  }
  part.lines = s.r.line;
  part.exact = end == std::string_view::npos || (s.have_header && s.r.pos == stop);
  return part;
}

// The first line at or after `from` that begins a molecule; npos when there is
// none. Each line is looked at once at most.
std::size_t mol2_part_boundary(std::string_view input, std::size_t from) {
  static constexpr std::string_view kHeader = "@<TRIPOS>MOLECULE";
  for (std::size_t at = input.find(kHeader, from); at != std::string_view::npos;
       at = input.find(kHeader, line_end(input, at))) {
    if (at > 0 && input[at - 1] == '\n') return at;
  }
  return std::string_view::npos;
}

}  // namespace

int calculate_total_comps_mol2(std::string_view input, std::string& dict_text,
                               std::vector<RecordStart>* starts, int threads) {
  FirstPassPart all = whole_first_pass(input, dict_text, "E -\nE =\nE #\nE ~\nE *\n", threads,
                                       mol2_first_pass_part, mol2_part_boundary);
  if (all.count == 0 && !is_blank_text(input)) no_molecule(input);
  if (starts != nullptr) *starts = std::move(all.starts);
  return all.count;
}

int read_mol2_file(std::string_view input, const GraphSink& take, const RecordRun& run) {
  Mol2Scanner s;
  scanner_open(s, input);
  if (run.first > 0) {
    // Behind a molecule's header line, which the molecule before has read.
    s.r.pos = run.at.pos;
    s.r.line = run.at.line;
    s.started = true;
    s.have_header = true;
  }
  Mol2Molecule m;
  std::string label;
  CompoundBuilder b;
  Graph& g = b.g;
  int num = run.first;
  while (num - run.first < run.count && mol2_next_molecule(s, m, num + 1)) {
    mol2_place(m, num + 1, m.name_at + 1);
    // Without a bond count on the counts line the bond lines are the limit.
    begin_compound(b, num, mol2_name(m, num + 1), m.natoms,
                   m.bond_given ? m.bond_count : m.nbonds);
    for (int k = 0; k < g.vs; ++k) {
      split_fields(m.atoms[k], s.fields);
      label = vertex_label(s.fields[5]);
      g.vl[k] = graph_index_vertex_labelset(label, ls);
    }
    for (int k = 0; k < m.nbonds; ++k) {
      split_fields(m.bonds[k], s.fields);
      const std::string_view type = s.fields[3];
      const char* edge = nullptr;
      if (type == "nc" || type == "du" || type == "un") continue;
      if (NoBndLabels == 1)
        edge = "-";
      else if (type == "1")
        edge = "-";
      else if (type == "2")
        edge = "=";
      else if (type == "3")
        edge = "#";
      else if (type == "ar")
        edge = "~";
      else if (type == "am")
        edge = "*";
      else
        mol2_refuse("edge label not valid " + std::string(type), m, num + 1, m.bond_at[k]);
      const int i = mol2_bond_atom(m, num + 1, k, s.fields[1], g);
      const int j = mol2_bond_atom(m, num + 1, k, s.fields[2], g);
      b.bonds.push_back({i, j, graph_index_edge_labelset(edge, ls)});
    }
    finish_compound(b, num, take);
    ++num;
  }
  return num - run.first;
}
