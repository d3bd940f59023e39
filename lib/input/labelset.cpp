// The sorted label tables and the loading of the dictionary text.
#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

#include "input/input_detail.h"

int ptr_array_strcmp(const std::string& element, const std::string& key) {
  // Byte-wise order, as strcmp. Affects output: label integers are ranks.
  return element.compare(key);
}

void ptr_array_append(const std::string& s, PtrArray& a) { a.buf.push_back(s); }

void ptr_array_insert(const std::string& s, PtrArray& a, int pos) {
  if (pos < 0 || pos >= static_cast<int>(a.buf.size())) error("invalid insertion\n");
  a.buf.insert(a.buf.begin() + pos, s);
}

void ptr_array_add(const std::string& key, PtrArray& a, PtrCompare compar) {
  const int top = static_cast<int>(a.buf.size());
  int l = -1;
  int u = top;
  // u ends at the first element greater than key: equal keys go after their
  // equals. Affects output.
  while (l + 1 != u) {
    const int m = (l + u) / 2;
    if (compar(a.buf[m], key) > 0)
      u = m;
    else
      l = m;
  }
  if (u > top) error("something wrong\n");
  if (u == top)
    ptr_array_append(key, a);
  else
    ptr_array_insert(key, a, u);
}

int ptr_array_index(const std::string& key, const PtrArray& a, PtrCompare compar) {
  const int top = static_cast<int>(a.buf.size());
  int l = -1;
  int u = top;
  while (l + 1 != u) {
    const int m = (l + u) / 2;
    if (compar(a.buf[m], key) >= 0)
      u = m;
    else
      l = m;
  }
  if (u == top || compar(a.buf[u], key) != 0) return -1;
  return u;
}

const std::string* ptr_array_search(const std::string& key, const PtrArray& a,
                                    PtrCompare compar) {
  const int i = ptr_array_index(key, a, compar);
  return i < 0 ? nullptr : &a.buf[i];
}

LabelSet graph_init_labelset() {
  LabelSet s;
  s.el.buf.reserve(128);
  s.vl.buf.reserve(128);
  return s;
}

void graph_register_vertex_label_to_set(const std::string& str, LabelSet& ls) {
  if (ptr_array_search(str, ls.vl, ptr_array_strcmp) == nullptr)
    ptr_array_add(str, ls.vl, ptr_array_strcmp);
}

void graph_register_edge_label_to_set(const std::string& str, LabelSet& ls) {
  if (ptr_array_search(str, ls.el, ptr_array_strcmp) == nullptr)
    ptr_array_add(str, ls.el, ptr_array_strcmp);
}

int graph_index_vertex_labelset(const std::string& str, const LabelSet& ls) {
  // The table is strictly ascending, so the binary search finds the same
  // position as a scan from the front.
  const int i = ptr_array_index(str, ls.vl, ptr_array_strcmp);
  if (i >= 0) return i;
  for (const std::string& s : ls.vl.buf) std::printf("%s\n", s.c_str());
  error("can't find a vertex label '" + str + "' in the label set\n");
}

int graph_index_edge_labelset(const std::string& str, const LabelSet& ls) {
  const int i = ptr_array_index(str, ls.el, ptr_array_strcmp);
  if (i < 0) error("can't find an edge label in the label set\n");
  return i;
}

LabelSet graph_load_labelset(const std::string& text) {
  LabelSet set = graph_init_labelset();
  LineReader r;
  line_reader_open(r, text);
  std::string line;
  // A carriage return the line reader drops would end the label anyway.
  while (read_line(r, line)) {
    if (!line.empty() && line[0] == '#') continue;
    if (line.empty() || (line[0] != 'E' && line[0] != 'V')) error("invalid line at");
    // "%c %s": the type, optional white space, then the next run of
    // non-white-space characters; the rest of the line is ignored.
    std::size_t s = 1;
    while (s < line.size() && std::isspace(static_cast<unsigned char>(line[s]))) ++s;
    std::size_t t = s;
    while (t < line.size() && !std::isspace(static_cast<unsigned char>(line[t]))) ++t;
    if (t == s) error("wrong formatted line at");
    const std::string label = line.substr(s, t - s);
    if (line[0] == 'E')
      graph_register_edge_label_to_set(label, set);
    else
      graph_register_vertex_label_to_set(label, set);
  }
  return set;
}

void graph_free_labelset(LabelSet& ls) { ls = LabelSet{}; }
