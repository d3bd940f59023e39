// The fragment writers: one SD record or one Mol2 molecule per descriptor fragment.
#include <cstdio>
#include <string>

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

// Entry k of vertex e[j] pointing back at vertex i, the other direction of bond j.
// Both directions must carry the same label.
void check_reverse_entry(const Graph& g, int i, int j) {
  const int t = g.e[j];
  SARVIK_ASSERT(t >= 0 && t < g.vs, kModule);
  int k = g.v[t];
  while (k < g.v[t + 1] && g.e[k] != i) ++k;
  SARVIK_ASSERT(k < g.v[t + 1], kModule);
  if (g.el[j] != g.el[k]) error("problem with the graph\n");
}

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
  std::fprintf(fp, "%d\n", id);
  std::fputs("  QZ                2D\n\n", fp);
  std::fprintf(fp, "%3d%3d%3d%3d%3d%3d%3d%3d%3d%3d%3d\n", g.vs, g.es / 2, 0, 0, 0, 0, 0, 0,
               0, 0, 0);
  for (int i = 0; i < g.vs; ++i) {
    std::fprintf(fp, "    0.0000    0.0000    0.0000 %-3s 0  0  0  0  0  0  0\n",
                 vertex_label(g, i, ls).c_str());
  }
  // Affects output: bonds are written from their lower-numbered end, in vertex
  // order, then in stored adjacency order.
  for (int i = 0; i < g.vs; ++i) {
    for (int j = g.v[i]; j < g.v[i + 1]; ++j) {
      check_reverse_entry(g, i, j);
      if (i < g.e[j]) {
        std::fprintf(fp, "%3d%3d", i + 1, g.e[j] + 1);
        const int type = sd_bond_type(edge_label(g, j, ls));
        if (type != 0) std::fprintf(fp, "%3d", type);
        std::fputs("  0  0  0  0\n", fp);
      }
    }
  }
  std::fputs("M  END\n$$$$\n", fp);
}

void dump_feature_mol2(const Graph& g, int id, const LabelSet& ls, FILE* fp) {
  check_record(g, id, fp);
  std::fputs("@<TRIPOS>MOLECULE\n", fp);
  std::fprintf(fp, "%d\n", id);
  std::fprintf(fp, "%3d%3d%3d%3d%3d\n", g.vs, g.es / 2, 0, 0, 0);
  std::fputs("SMALL\nQZ FRAGMENT\n\n\n", fp);
  std::fputs("@<TRIPOS>ATOM\n", fp);
  for (int i = 0; i < g.vs; ++i) {
    const std::string& label = vertex_label(g, i, ls);
    const std::size_t dot = label.find('.');
    const int basic = static_cast<int>(dot == std::string::npos ? label.size() : dot);
    std::fprintf(fp, "\t%4d %.*s\t0.0000\t0.0000\t0.0000 %s\t0  UNK\t0.000\n", i + 1, basic,
                 label.c_str(), label.c_str());
  }
  std::fputs("@<TRIPOS>BOND\n", fp);
  // Affects output: bond numbers run in the order the bonds are written.
  int bond = 0;
  for (int i = 0; i < g.vs; ++i) {
    for (int j = g.v[i]; j < g.v[i + 1]; ++j) {
      check_reverse_entry(g, i, j);
      if (i < g.e[j]) {
        ++bond;
        std::fprintf(fp, "\t%3d\t%3d\t%3d%s\n", bond, i + 1, g.e[j] + 1,
                     mol2_bond_type(edge_label(g, j, ls)));
      }
    }
  }
  std::fputs("\n", fp);
}
