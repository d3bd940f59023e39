// SD file reader: three passes over a file of V2000 records (count and collect
// atom symbols into the dictionary, allocate, fill). All passes frame records
// with the same scanner, so they always agree on the records.
#include <cctype>
#include <cstdio>

#include "input/input_detail.h"

namespace {

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

// Makes the record the compound that fatal messages name, at input line `line`
// (0: no one line).
void sd_place(const SdRecord& rec, int position, long long line) {
  compound_place = CompoundPlace{true, position, sd_name(rec, position), line};
}

[[noreturn]] void sd_refuse(const std::string& what, const SdRecord& rec, int position,
                            long long line) {
  sd_place(rec, position, line);
  error("read sdf file : " + what + " of compound " + sd_name(rec, position) + "\n");
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

int column_number(const std::string& line, std::size_t first) {
  int value = 0;
  for (char c : column_digits(line, first)) value = value * 10 + (c - '0');
  return value;
}

// The non-white-space characters of columns 32 to 34, in order.
std::string atom_symbol(const std::string& line) {
  std::string symbol;
  for (std::size_t c = 31; c < 34 && c < line.size(); ++c)
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

// Reads the next record. False when the input holds no further record: at end
// of input, or when only blank lines are left. A record whose header, atom and
// bond blocks are complete counts also without a closing "$$$$". Refuses a
// record cut short, a V3000 record, and counts larger than the blocks.
bool sd_next_record(LineReader& r, SdRecord& rec, int position) {
  rec.natoms = 0;
  rec.nbonds = 0;
  if (!read_line(r, rec.title)) return false;
  rec.first_line = r.line;
  bool blank = is_blank(rec.title);
  for (std::string* line : {&rec.line2, &rec.line3, &rec.counts}) {
    if (!read_line(r, *line)) {
      if (blank) return false;
      sd_refuse("file ends before the counts line", rec, position, r.line);
    }
    blank = blank && is_blank(*line);
  }
  if (rec.counts.find("V3000") != std::string::npos) {
    sd_place(rec, position, counts_line(rec));
    error("read sdf file : compound " + sd_name(rec, position) +
          " is a V3000 record; only V2000 records are read\n");
  }
  const int atoms = column_number(rec.counts, 1);
  const int bonds = column_number(rec.counts, 4);
  for (int k = 0; k < atoms; ++k) {
    if (!read_into(r, rec.atoms, k))
      sd_refuse("file ends inside the atom block", rec, position, r.line);
    if (ends_block_early(rec.atoms[k]))
      sd_refuse("atom count larger than the atom lines", rec, position, r.line);
    rec.natoms = k + 1;
  }
  for (int k = 0; k < bonds; ++k) {
    if (!read_into(r, rec.bonds, k))
      sd_refuse("file ends inside the bond block", rec, position, r.line);
    if (ends_block_early(rec.bonds[k]))
      sd_refuse("atom or bond count larger than the record's lines", rec, position, r.line);
    rec.nbonds = k + 1;
  }
  while (read_line(r, rec.rest)) {
    if (is_record_end(rec.rest)) return true;
    blank = blank && is_blank(rec.rest);
  }
  // Trailing blank lines (read as an empty counts line) are no record.
  return !blank;
}

FILE* open_input() { return xfopen(filestub, "r"); }

[[noreturn]] void input_changed() {
  error("read sdf file : the input file changed while it was read\n");
}

}  // namespace

int calculate_total_comps() {
  DictionaryBuilder dict;
  dictionary_begin(dict, "E -\nE =\nE #\nE ~\n");
  FILE* fp = open_input();
  LineReader r;
  line_reader_open(r, fp);
  SdRecord rec;
  int count = 0;
  while (sd_next_record(r, rec, count + 1)) {
    for (int k = 0; k < rec.natoms; ++k) {
      const std::string symbol = atom_symbol(rec.atoms[k]);
      if (symbol.empty())
        sd_refuse("no atom symbol in atom line " + std::to_string(k + 1), rec, count + 1,
                  atom_line(rec, k));
      dictionary_add_vertex_label(dict, symbol);
    }
    ++count;
  }
  std::fclose(fp);
  dictionary_write(dict);
  std::printf("total compounds = %d\n", count);
  return count;
}

std::vector<Graph> init_graph_all(int total_comp) {
  std::vector<Graph> graphs(total_comp);
  FILE* fp = open_input();
  LineReader r;
  line_reader_open(r, fp);
  SdRecord rec;
  int count = 0;
  while (sd_next_record(r, rec, count + 1)) {
    if (count >= total_comp) input_changed();
    Graph& g = graphs[count];
    const int a = column_number(rec.counts, 1);
    const int b = column_number(rec.counts, 4);
    g.e.assign(2 * b, 0);
    g.el.assign(2 * b, 0);
    g.v.assign(a + 1, 0);
    g.vl.assign(a, 0);
    g.vid.assign(a, 0);
    ++count;
  }
  std::fclose(fp);
  if (count != total_comp) input_changed();
  return graphs;
}

int read_sdf_file(FILE* fp, std::vector<Graph>& rule_vec) {
  LineReader r;
  line_reader_open(r, fp);
  SdRecord rec;
  std::vector<EdgeEntry> bonds;
  std::vector<EdgeEntry> edges;
  static const char* const kBondLabel[5] = {"", "-", "=", "#", "~"};
  int num = 0;
  while (sd_next_record(r, rec, num + 1)) {
    if (num >= static_cast<int>(rule_vec.size())) input_changed();
    Graph& g = rule_vec[num];
    const std::string nm = sd_name(rec, num + 1);
    if (static_cast<int>(name.size()) <= num) name.resize(num + 1);
    name[num] = nm;
    g.vs = column_number(rec.counts, 1);
    g.es = 2 * column_number(rec.counts, 4);
    sd_place(rec, num + 1, counts_line(rec));
    if (g.vs > 999 || g.es > 999)
      error("Graph " + nm + " is too large : Max vertices or edges allowed in a compound is 999\n");
    g.vid.resize(g.vs);
    g.vl.resize(g.vs);
    for (int k = 0; k < g.vs; ++k) {
      g.vid[k] = k;
      g.vl[k] = graph_index_vertex_labelset(atom_symbol(rec.atoms[k]), ls);
    }
    bonds.clear();
    for (int k = 0; k < g.es / 2; ++k) {
      const std::string& line = rec.bonds[k];
      const int i = column_number(line, 1) - 1;
      const int j = column_number(line, 4) - 1;
      if (i < 0 || j < 0)
        sd_refuse("atom number 0 or missing in bond line " + std::to_string(k + 1), rec,
                  num + 1, bond_line(rec, k));
      int t = 1;
      if (NoBndLabels == 0) {
        t = column_number(line, 7);
        if (t < 1 || t > 4) {
          sd_place(rec, num + 1, bond_line(rec, k));
          error("read sdf file : edge label not valid " + column_digits(line, 7) + "\n");
        }
      }
      bonds.push_back({i, j, graph_index_edge_labelset(kBondLabel[t], ls)});
    }
    // A repeated bond or an atom number beyond the atoms: no one line to blame.
    sd_place(rec, num + 1, 0);
    build_graph_from_bonds(g, bonds, edges);
    compound_place.active = false;
    ++num;
  }
  std::fclose(fp);
  return num;
}
