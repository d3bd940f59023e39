// The output writers: the descriptor file, one line per compound, and the
// fragment writers, one SD record or one Mol2 molecule per descriptor fragment.
#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <exception>
#include <new>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "table/table.h"
#include "table/text_buffer.h"

namespace sarvik {

namespace {

constexpr const char* kModule = "writers";

void check_record(const Graph& g, int id) {
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

// Whether bond entry j of vertex i (adjacency arrays v, e, el of a graph of vs
// vertices) agrees with the other direction: the first entry of vertex e[j]
// that points back at i has the same label.
inline bool reverse_entry_agrees(const int* v, const int* e, const int* el, int vs, int i, int j) {
  const int t = e[j];
  SARVIK_ASSERT(t >= 0 && t < vs, kModule);
  const int end = v[t + 1];
  int k = v[t];
  while (k < end && e[k] != i) ++k;
  SARVIK_ASSERT(k < end, kModule);
  return el[j] == el[k];
}

// Ends the run on a fragment whose two bond directions disagree. (The output
// files of a failed run are removed, so what was laid out is of no use.)
[[noreturn]] void graph_problem() { error("problem with the graph\n"); }

// A label as printf's "%s" prints it: up to its first NUL byte.
std::string_view c_text(const std::string& s) { return std::string_view(s.c_str()); }

// SD bond type number of a bond label, 0 for an unlisted label.
int sd_bond_type(const std::string& l) {
  const BondType* t = bond_type_of_label(l);
  return t != nullptr ? t->sd : 0;
}

// Mol2 bond type of a bond label, empty for an unlisted label.
std::string_view mol2_bond_type(const std::string& l) {
  const BondType* t = bond_type_of_label(l);
  return t != nullptr ? t->mol2 : "";
}

}  // namespace

void check_sd_atom_label(const std::string& label, int id) {
  if (label.empty() || label.size() > 3)
    error("can't write fragment " + std::to_string(id) + ": atom label '" + shown(label) +
          "' does not fit the 3-character SD atom symbol field\n");
}

SdLayout sd_layout(const LabelSet& ls) {
  SdLayout layout;
  for (const std::string& label : ls.vl.buf) {
    std::array<char, kSdAtomLine> line{};
    const bool fits = !label.empty() && label.size() <= 3;
    if (fits) {
      const std::string_view text = c_text(label);
      char* p = put_lit(line.data(), "    0.0000    0.0000    0.0000 ");
      p = put_text(p, text);
      p = put_fill(p, ' ', 3 - text.size());
      p = put_lit(p, " 0  0  0  0  0  0  0\n");
      SARVIK_ASSERT(p == line.data() + kSdAtomLine, kModule);
    }
    layout.atom_line.push_back(line);
    layout.atom_fits.push_back(fits ? 1 : 0);
  }
  for (const std::string& label : ls.el.buf) {
    std::array<char, kSdBondTail> tail{};
    char* p = tail.data();
    const int type = sd_bond_type(label);
    if (type != 0) {
      *p++ = ' ';
      *p++ = ' ';
      *p++ = static_cast<char>('0' + type);
    }
    p = put_lit(p, "  0  0  0  0\n");
    layout.bond_tail.push_back(tail);
    layout.bond_tail_size.push_back(static_cast<unsigned char>(p - tail.data()));
  }
  return layout;
}

void append_sdf_record(const Graph& g, int id, const SdLayout& layout, TextBuffer& record) {
  check_record(g, id);
  const int atom_labels = static_cast<int>(layout.atom_line.size());
  const int bond_labels = static_cast<int>(layout.bond_tail.size());
  const int* v = g.v.data();
  const int* e = g.e.data();
  const int* el = g.el.data();
  const int* vl = g.vl.data();
  // Room for the longest record: every int at its widest.
  const std::size_t atoms = static_cast<std::size_t>(g.vs);
  const std::size_t bonds = static_cast<std::size_t>(g.es) / 2;
  char* p = record.room(128 + 3 * kIntChars + atoms * kSdAtomLine +
                        bonds * (2 * kIntChars + kSdBondTail));
  p = put_int(p, id);
  p = put_lit(p, "\n  QZ                2D\n\n");
  p = put_int3(p, g.vs);
  p = put_int3(p, g.es / 2);
  p = put_lit(p, "  0  0  0  0  0  0  0  0  0\n");
  const int vs = g.vs;
  for (int i = 0; i < vs; ++i) {
    // The sweep refused labels the atom symbol field cannot hold.
    const int l = vl[i];
    SARVIK_ASSERT(l >= 0 && l < atom_labels && layout.atom_fits[l], kModule);
    std::memcpy(p, layout.atom_line[l].data(), kSdAtomLine);
    p += kSdAtomLine;
  }
  // Affects output: bonds are written from their lower-numbered end, in vertex
  // order, then in stored adjacency order.
  for (int i = 0; i < vs; ++i) {
    const int end = v[i + 1];
    for (int j = v[i]; j < end; ++j) {
      if (!reverse_entry_agrees(v, e, el, vs, i, j)) graph_problem();
      const int t = e[j];
      const int label = el[j];
      if (i < t) {
        p = put_int3(p, i + 1);
        p = put_int3(p, t + 1);
        SARVIK_ASSERT(label >= 0 && label < bond_labels, kModule);
        // The whole tail is copied; the cursor moves on by its size.
        std::memcpy(p, layout.bond_tail[label].data(), kSdBondTail);
        p += layout.bond_tail_size[label];
      }
    }
  }
  p = put_lit(p, "M  END\n$$$$\n");
  record.close(p);
}

void append_mol2_record(const Graph& g, int id, const LabelSet& ls, TextBuffer& record) {
  check_record(g, id);
  // Room for the longest record: every int at its widest, each label twice.
  std::size_t labels = 0;
  for (int i = 0; i < g.vs; ++i) labels += vertex_label(g, i, ls).size();
  const std::size_t atoms = static_cast<std::size_t>(g.vs);
  const std::size_t bonds = static_cast<std::size_t>(g.es) / 2;
  char* p = record.room(96 + 3 * kIntChars + 2 * labels + atoms * (kIntChars + 48) +
                        bonds * (3 * kIntChars + 8));
  p = put_lit(p, "@<TRIPOS>MOLECULE\n");
  p = put_int(p, id);
  *p++ = '\n';
  p = put_int(p, g.vs, 3);
  p = put_int(p, g.es / 2, 3);
  p = put_lit(p, "  0  0  0\nSMALL\nQZ FRAGMENT\n\n\n@<TRIPOS>ATOM\n");
  for (int i = 0; i < g.vs; ++i) {
    const std::string& label = vertex_label(g, i, ls);
    const std::size_t dot = label.find('.');
    const std::size_t basic = dot == std::string::npos ? label.size() : dot;
    const std::string_view text = c_text(label);
    *p++ = '\t';
    p = put_int(p, i + 1, 4);
    *p++ = ' ';
    p = put_text(p, text.substr(0, basic));
    p = put_lit(p, "\t0.0000\t0.0000\t0.0000 ");
    p = put_text(p, text);
    p = put_lit(p, "\t0  UNK\t0.000\n");
  }
  p = put_lit(p, "@<TRIPOS>BOND\n");
  // Affects output: bond numbers run in the order the bonds are written.
  int bond = 0;
  for (int i = 0; i < g.vs; ++i) {
    for (int j = g.v[i]; j < g.v[i + 1]; ++j) {
      if (!reverse_entry_agrees(g.v.data(), g.e.data(), g.el.data(), g.vs, i, j)) graph_problem();
      if (i < g.e[j]) {
        ++bond;
        *p++ = '\t';
        p = put_int(p, bond, 3);
        *p++ = '\t';
        p = put_int(p, i + 1, 3);
        *p++ = '\t';
        p = put_int(p, g.e[j] + 1, 3);
        // The type right-aligned in three columns.
        const std::string_view type = mol2_bond_type(edge_label(g, j, ls));
        if (!type.empty()) {
          p = put_fill(p, ' ', 3 - type.size());
          p = put_text(p, type);
        }
        *p++ = '\n';
      }
    }
  }
  *p++ = '\n';
  record.close(p);
}

void write_in_order(int blocks, int threads, const TextSink& sink,
                    const std::atomic<bool>* cancel,
                    const std::function<void(int block, TextBuffer& text)>& layout) {
  if (threads <= 1) {
    TextBuffer text;
    for (int b = 0; b < blocks; ++b) {
      check_cancel(cancel);
      text.used = 0;
      layout(b, text);
      sink(text.text());
    }
    return;
  }
  // `threads` helpers lay out blocks in order of their numbers, each into one of
  // 2 x threads buffers, while this thread hands the blocks over in order as
  // they are ready; a helper waits while every buffer holds a block not yet
  // handed over.
  struct Shared {
    std::mutex m;
    std::condition_variable ready_cv;  // a block is laid out
    std::condition_variable free_cv;   // a buffer is handed over, or the helpers stop
    int next = 0;                      // the next block a helper takes
    int written = 0;                   // blocks handed over
    bool stop = false;
  } sh;
  const int slots = 2 * threads;
  std::vector<TextBuffer> text(static_cast<std::size_t>(slots));
  std::vector<char> ready(static_cast<std::size_t>(slots), 0);
  std::vector<std::exception_ptr> failure(static_cast<std::size_t>(slots));
  const auto help = [&] {
    for (;;) {
      int b;
      {
        std::unique_lock<std::mutex> lk(sh.m);
        sh.free_cv.wait(lk, [&] { return sh.stop || sh.next >= blocks || sh.next < sh.written + slots; });
        if (sh.stop || sh.next >= blocks) return;
        b = sh.next++;
      }
      const std::size_t at = static_cast<std::size_t>(b % slots);
      failure[at] = nullptr;
      try {
        check_cancel(cancel);
        text[at].used = 0;
        layout(b, text[at]);
      } catch (...) {
        failure[at] = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lk(sh.m);
        ready[at] = 1;
      }
      sh.ready_cv.notify_one();
    }
  };
  // The helpers stop and are joined however this thread leaves.
  struct Helpers {
    Shared& sh;
    std::vector<std::thread> threads;
    ~Helpers() {
      {
        std::lock_guard<std::mutex> lk(sh.m);
        sh.stop = true;
      }
      sh.free_cv.notify_all();
      for (std::thread& t : threads) t.join();
    }
  } helpers{sh, {}};
  try {
    for (int k = 0; k < std::min(threads, blocks); ++k) helpers.threads.emplace_back(help);
  } catch (const std::system_error&) {
    // A thread that cannot start lacks memory for its stack.
    throw std::bad_alloc();
  }
  for (int b = 0; b < blocks; ++b) {
    const std::size_t at = static_cast<std::size_t>(b % slots);
    {
      std::unique_lock<std::mutex> lk(sh.m);
      sh.ready_cv.wait(lk, [&] { return ready[at] != 0; });
    }
    // The first block that failed ends the writing, as laying them out in order
    // would.
    if (failure[at] != nullptr) std::rethrow_exception(failure[at]);
    sink(text[at].text());
    {
      std::lock_guard<std::mutex> lk(sh.m);
      ready[at] = 0;
      ++sh.written;
    }
    sh.free_cv.notify_all();
  }
}

namespace {

// Characters of a line at most.
std::size_t line_room(std::string_view title, std::size_t pairs) {
  return 2 * title.size() + 16 + kIntChars + pairs * (2 + kIntChars + kInt64Chars);
}

// Lays out the line of the descriptor file of a compound titled `title` with
// these pairs at p; returns its end.
char* put_line(char* p, std::string_view title, std::span<const DescriptorCount> pairs) {
  const std::size_t n = pairs.size();
  *p++ = '"';
  for (const char c : title) {
    *p++ = c;
    if (c == '"') *p++ = '"';
  }
  p = put_lit(p, "\",");
  p = put_int(p, static_cast<int>(n));
  for (const DescriptorCount& d : pairs) {
    *p++ = ',';
    p = put_int(p, d.id);
    *p++ = ',';
    p = put_uint64(p, d.count);
  }
  *p++ = '\n';
  return p;
}

// The name as "%s" prints it: up to its first NUL byte. Between double quotes,
// each double quote in it doubled (as CSV readers expect).
std::string_view title_of(std::string_view name) { return name.substr(0, name.find('\0')); }

void append_line(std::string_view name, std::span<const DescriptorCount> pairs, TextBuffer& text) {
  const std::string_view title = title_of(name);
  text.close(put_line(text.room(line_room(title, pairs.size())), title, pairs));
}

}  // namespace

void append_descriptor_line(std::string_view name, std::span<const DescriptorCount> pairs,
                            std::string& text) {
  const std::string_view title = title_of(name);
  const std::size_t at = text.size();
  text.resize(at + line_room(title, pairs.size()));
  text.resize(static_cast<std::size_t>(put_line(text.data() + at, title, pairs) - text.data()));
}

void write_descriptor_file(const OccurrenceStore& occ, const std::vector<int>& map,
                           const std::vector<std::string>& name, int threads,
                           const TextSink& sink, const std::atomic<bool>* cancel) {
  const int total = occ.total;
  SARVIK_ASSERT(total <= static_cast<int>(name.size()), kModule);
  write_in_order((total + kOccurrenceBlock - 1) / kOccurrenceBlock, threads, sink, cancel,
                 [&](int b, TextBuffer& text) {
                   BlockLists lists;
                   std::vector<DescriptorCount> pairs;
                   block_lists_open(occ, b, lists);
                   for (int i = b * kOccurrenceBlock; i < std::min(total, (b + 1) * kOccurrenceBlock); ++i) {
                     block_lists_next(lists, map, pairs);
                     append_line(name[static_cast<std::size_t>(i)], pairs, text);
                   }
                 });
}

void descriptor_vectors(const OccurrenceStore& occ, const std::vector<int>& map,
                        const std::function<void(int i, std::span<const DescriptorCount>)>& take,
                        const std::atomic<bool>* cancel) {
  BlockLists lists;
  std::vector<DescriptorCount> pairs;
  for (int b = 0; b * kOccurrenceBlock < occ.total; ++b) {
    check_cancel(cancel);
    block_lists_open(occ, b, lists);
    for (int i = b * kOccurrenceBlock; i < std::min(occ.total, (b + 1) * kOccurrenceBlock); ++i) {
      block_lists_next(lists, map, pairs);
      take(i, pairs);
    }
  }
}

}  // namespace sarvik
