// The sorted label tables of a run.
#include <algorithm>
#include <string>

#include "input/input.h"

namespace sarvik {

int ptr_array_strcmp(const std::string& element, const std::string& key) {
  // Byte-wise order, as strcmp. Affects output: label integers are ranks.
  return element.compare(key);
}

int ptr_array_index(const std::string& key, const PtrArray& a) {
  const auto it = std::lower_bound(
      a.buf.begin(), a.buf.end(), key,
      [](const std::string& element, const std::string& k) { return ptr_array_strcmp(element, k) < 0; });
  if (it == a.buf.end() || ptr_array_strcmp(*it, key) != 0) return -1;
  return static_cast<int>(it - a.buf.begin());
}

LabelSet make_labelset(const std::vector<std::string>& vertex_labels, Format format) {
  LabelSet ls;
  ls.vl.buf = vertex_labels;
  const auto less = [](const std::string& a, const std::string& b) { return ptr_array_strcmp(a, b) < 0; };
  std::sort(ls.vl.buf.begin(), ls.vl.buf.end(), less);
  ls.vl.buf.erase(std::unique(ls.vl.buf.begin(), ls.vl.buf.end()), ls.vl.buf.end());
  const int bond_types = format == Format::sd ? kSdBondTypes : static_cast<int>(std::size(kBondTypes));
  for (int t = 0; t < bond_types; ++t) ls.el.buf.emplace_back(kBondTypes[t].label);
  std::sort(ls.el.buf.begin(), ls.el.buf.end(), less);
  return ls;
}

int graph_index_vertex_labelset(const std::string& str, const LabelSet& ls) {
  const int i = ptr_array_index(str, ls.vl);
  if (i < 0) error("can't find a vertex label '" + shown(str) + "' in the label set\n");
  return i;
}

int graph_index_edge_labelset(const std::string& str, const LabelSet& ls) {
  const int i = ptr_array_index(str, ls.el);
  if (i < 0) error("can't find an edge label in the label set\n");
  return i;
}

}  // namespace sarvik
