// The fragment writers: one SD record or one Mol2 molecule per descriptor fragment.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "table/table.h"

namespace {

constexpr const char* kModule = "generate_all_trees_freq";

void check_record(const Graph& g, int id, FILE* fp) {
  SARVIK_ASSERT(fp != nullptr, kModule);
  SARVIK_ASSERT(id > 0, kModule);
  SARVIK_ASSERT(g.vs >= 0 && static_cast<int>(g.v.size()) > g.vs &&
                    static_cast<int>(g.vl.size()) >= g.vs && g.v[g.vs] <= g.es &&
                    static_cast<int>(g.e.size()) >= g.es && static_cast<int>(g.el.size()) >= g.es,
                kModule);
}

const std::string& vertex_label(const Graph& g, int i, const LabelSet& ls) {
  SARVIK_ASSERT(g.vl[i] >= 0 && g.vl[i] < static_cast<int>(ls.vl.buf.size()), kModule);
  return ls.vl.buf[g.vl[i]];
}

const std::string& edge_label(const Graph& g, int j, const LabelSet& ls) {
  SARVIK_ASSERT(g.el[j] >= 0 && g.el[j] < static_cast<int>(ls.el.buf.size()), kModule);
  return ls.el.buf[g.el[j]];
}

// Whether entry k of vertex e[j] points back at vertex i with the same label: the
// other direction of bond j.
bool reverse_entry_agrees(const Graph& g, int i, int j) {
  const int t = g.e[j];
  SARVIK_ASSERT(t >= 0 && t < g.vs, kModule);
  int k = g.v[t];
  while (k < g.v[t + 1] && g.e[k] != i) ++k;
  SARVIK_ASSERT(k < g.v[t + 1], kModule);
  return g.el[j] == g.el[k];
}

// One record is laid out here and written with one call. Grows to the largest
// record; released at process end.
std::string record;

// Ends the run on a fragment whose two bond directions disagree, after writing
// the part of the record laid out so far (what a writer printing as it goes
// leaves in the file).
[[noreturn]] void graph_problem(FILE* fp) {
  std::fwrite(record.data(), 1, record.size(), fp);
  error("problem with the graph\n");
}

// Appends x in decimal, right-aligned in at least `width` characters (printf's
// "%<width>d").
void put_int(std::string& b, int x, int width) {
  char digits[16];
  const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, x);
  const int n = static_cast<int>(r.ptr - digits);
  if (n < width) b.append(static_cast<std::size_t>(width - n), ' ');
  b.append(digits, r.ptr);
}

// A label as printf's "%s" prints it: up to its first NUL byte.
std::string_view c_text(const std::string& s) { return std::string_view(s.c_str()); }

// SD bond type number of a bond label, 0 for an unlisted label.
int sd_bond_type(const std::string& l) {
  if (l == "-") return 1;
  if (l == "=") return 2;
  if (l == "#") return 3;
  if (l == "~") return 4;
  return 0;
}

// Mol2 bond type text of a bond label, empty for an unlisted label.
const char* mol2_bond_type(const std::string& l) {
  if (l == "-") return "  1";
  if (l == "=") return "  2";
  if (l == "#") return "  3";
  if (l == "~") return " ar";
  if (l == "*") return " am";
  return "";
}

}  // namespace

void dump_feature_sdf(const Graph& g, int id, const LabelSet& ls, FILE* fp) {
  check_record(g, id, fp);
  // Every label is checked before the record starts, so no malformed record is
  // left in the file.
  for (int i = 0; i < g.vs; ++i) {
    const std::string& label = vertex_label(g, i, ls);
    if (label.empty() || label.size() > 3)
      error("can't write fragment " + std::to_string(id) + ": atom label '" + label +
            "' does not fit the 3-character SD atom symbol field\n");
  }
  std::string& b = record;
  b.clear();
  put_int(b, id, 0);
  b += "\n  QZ                2D\n\n";
  put_int(b, g.vs, 3);
  put_int(b, g.es / 2, 3);
  b += "  0  0  0  0  0  0  0  0  0\n";
  for (int i = 0; i < g.vs; ++i) {
    const std::string_view label = c_text(vertex_label(g, i, ls));
    b += "    0.0000    0.0000    0.0000 ";
    b += label;
    if (label.size() < 3) b.append(3 - label.size(), ' ');
    b += " 0  0  0  0  0  0  0\n";
  }
  // Affects output: bonds are written from their lower-numbered end, in vertex
  // order, then in stored adjacency order.
  for (int i = 0; i < g.vs; ++i) {
    for (int j = g.v[i]; j < g.v[i + 1]; ++j) {
      if (!reverse_entry_agrees(g, i, j)) graph_problem(fp);
      if (i < g.e[j]) {
        put_int(b, i + 1, 3);
        put_int(b, g.e[j] + 1, 3);
        const int type = sd_bond_type(edge_label(g, j, ls));
        if (type != 0) put_int(b, type, 3);
        b += "  0  0  0  0\n";
      }
    }
  }
  b += "M  END\n$$$$\n";
  std::fwrite(b.data(), 1, b.size(), fp);
}

void dump_feature_mol2(const Graph& g, int id, const LabelSet& ls, FILE* fp) {
  check_record(g, id, fp);
  std::string& b = record;
  b.clear();
  b += "@<TRIPOS>MOLECULE\n";
  put_int(b, id, 0);
  b += '\n';
  put_int(b, g.vs, 3);
  put_int(b, g.es / 2, 3);
  b += "  0  0  0\nSMALL\nQZ FRAGMENT\n\n\n@<TRIPOS>ATOM\n";
  for (int i = 0; i < g.vs; ++i) {
    const std::string& label = vertex_label(g, i, ls);
    const std::size_t dot = label.find('.');
    const std::size_t basic = dot == std::string::npos ? label.size() : dot;
    const std::string_view text = c_text(label);
    b += '\t';
    put_int(b, i + 1, 4);
    b += ' ';
    b += text.substr(0, basic);
    b += "\t0.0000\t0.0000\t0.0000 ";
    b += text;
    b += "\t0  UNK\t0.000\n";
  }
  b += "@<TRIPOS>BOND\n";
  // Affects output: bond numbers run in the order the bonds are written.
  int bond = 0;
  for (int i = 0; i < g.vs; ++i) {
    for (int j = g.v[i]; j < g.v[i + 1]; ++j) {
      if (!reverse_entry_agrees(g, i, j)) graph_problem(fp);
      if (i < g.e[j]) {
        ++bond;
        b += '\t';
        put_int(b, bond, 3);
        b += '\t';
        put_int(b, i + 1, 3);
        b += '\t';
        put_int(b, g.e[j] + 1, 3);
        b += mol2_bond_type(edge_label(g, j, ls));
        b += '\n';
      }
    }
  }
  b += '\n';
  std::fwrite(b.data(), 1, b.size(), fp);
}
