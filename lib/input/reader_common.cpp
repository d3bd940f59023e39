// Pieces shared by the SD and Mol2 readers: the line reader, the dictionary
// text of the first pass, the building of a compound graph from its bonds and
// the field helpers.
#include <algorithm>
#include <climits>
#include <iterator>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "input/input_detail.h"

namespace sarvik {

void build_graph_from_bonds(Graph& g, const std::vector<EdgeEntry>& bonds,
                            std::vector<EdgeEntry>& edges, bool bond_numbers) {
  g.es = 2 * static_cast<int>(bonds.size());
  edges.clear();
  for (const EdgeEntry& b : bonds) {
    const int i = b.head < b.tail ? b.head : b.tail;
    const int j = b.head < b.tail ? b.tail : b.head;
    // Compound graphs have vid[k] = k, so an atom number in range is its own
    // vertex; anything else gets the lookup's message.
    const int hi = (i >= 0 && i < g.vs && g.vid[i] == i) ? i : graph_lookup_vid(i, g);
    const int hj = (j >= 0 && j < g.vs && g.vid[j] == j) ? j : graph_lookup_vid(j, g);
    edges.push_back({hi, hj, b.label, b.bond});
    edges.push_back({hj, hi, b.label, b.bond});
  }
  g.e.assign(g.es, 0);
  g.el.assign(g.es, 0);
  if (bond_numbers)
    g.eb.assign(g.es, 0);
  else
    g.eb.clear();
  g.v.assign(g.vs + 1, 0);
  sort_edges(edges.data(), g.es);
  check_duplicated_edges(edges.data(), g);
  pack_edges(edges.data(), g);
}

void refuse_compound(const ReaderWords& words, const std::string& what,
                     const CompoundPlace& place) {
  throw Error(ErrorKind::input, words.head + what + words.of + shown(place.name) + "\n", place);
}

int bond_atom(const ReaderWords& words, const CompoundPlace& place, std::string_view field,
              bool numeric, int n, int bond, const Graph& g) {
  if (!numeric || n < 1)
    refuse_compound(words,
                    "atom number '" + shown(field) + "' in bond line " +
                        std::to_string(bond + 1) + " is not a number from 1 to " +
                        std::to_string(g.vs),
                    place);
  // Beyond the atoms: the lookup's own message.
  if (n > g.vs) at_place(place, [&] { graph_lookup_vid(n - 1, g); });
  return n - 1;
}

void begin_compound(CompoundBuilder& b, int atoms, int bonds) {
  Graph& g = b.g;
  g.vs = atoms;
  if (atoms > MAX_COMPOUND_ATOMS || bonds > MAX_COMPOUND_BONDS)
    error("Graph " + shown(b.place.name) +
          " is too large : Max vertices or edges allowed in a compound is 999\n");
  g.vid.resize(g.vs);
  g.vl.resize(g.vs);
  for (int k = 0; k < g.vs; ++k) g.vid[k] = k;
  b.bonds.clear();
}

void finish_compound(CompoundBuilder& b, bool bond_numbers) {
  // A repeated bond: no one line to blame.
  b.place.line = 0;
  build_graph_from_bonds(b.g, b.bonds, b.edges, bond_numbers);
}

void split_fields(const std::string& line, std::vector<std::string_view>& fields) {
  fields.clear();
  const char* s = line.data();
  const char* end = s + line.size();
  while (s < end) {
    while (s < end && (*s == ' ' || *s == '\t')) ++s;
    if (s == end) break;
    const char* t = s;
    while (t < end && *t != ' ' && *t != '\t') ++t;
    fields.emplace_back(s, static_cast<std::size_t>(t - s));
    s = t;
  }
}

bool is_blank(const std::string& line) {
  for (char c : line)
    if (c != ' ' && c != '\t') return false;
  return true;
}

bool is_blank_text(std::string_view text) {
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  return true;
}

long long leading_digits(std::string_view s, std::size_t* digits) {
  long long value = 0;
  std::size_t k = 0;
  for (; k < s.size() && s[k] >= '0' && s[k] <= '9'; ++k) {
    value = value * 10 + (s[k] - '0');
    if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (digits) *digits = k;
  return value;
}

int leading_int(std::string_view s) {
  std::size_t k = 0;
  bool negative = false;
  if (k < s.size() && (s[k] == '+' || s[k] == '-')) {
    negative = s[k] == '-';
    ++k;
  }
  long long value = leading_digits(s.substr(k));
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < -INT_MAX) return -INT_MAX;
  return static_cast<int>(value);
}

bool is_number_field(std::string_view s) {
  std::size_t k = 0;
  while (k < s.size() && s[k] == ' ') ++k;
  const std::size_t digits = k;
  while (k < s.size() && s[k] >= '0' && s[k] <= '9') ++k;
  if (k == digits) return false;
  while (k < s.size() && s[k] == ' ') ++k;
  return k == s.size();
}

namespace {

// Whether token could be a SMILES string: outside brackets only the atoms of
// the organic subset (B C N O P S F Cl Br I, aromatic b c n o p s), digits and
// bond, branch and ring characters; anything but a space inside brackets; an
// atom among them.
bool smiles_token(std::string_view token) {
  bool atom = false;
  for (std::size_t k = 0; k < token.size(); ++k) {
    const char c = token[k];
    if (c == '[') {
      const std::size_t close = token.find(']', k);
      if (close == std::string_view::npos || close == k + 1) return false;
      k = close;
      atom = true;
    } else if (std::string_view("BCNOPSFI").find(c) != std::string_view::npos) {
      // Cl and Br take their second letter along.
      if (k + 1 < token.size() && ((c == 'C' && token[k + 1] == 'l') || (c == 'B' && token[k + 1] == 'r')))
        ++k;
      atom = true;
    } else if (std::string_view("bcnops").find(c) != std::string_view::npos) {
      atom = true;
    } else if (!(c >= '0' && c <= '9') &&
               std::string_view("()=#-+/\\%.:$~@*").find(c) == std::string_view::npos) {
      return false;
    }
  }
  return atom;
}

// The first token of a line: up to a space, tab, comma or semicolon.
std::string_view first_token(std::string_view line) {
  return line.substr(0, line.find_first_of(" \t,;"));
}

}  // namespace

void refuse_smiles(const Source& input, const ReadContext& cx, const char* head) {
  // The first lines decide: a compound file has a counts line (or a Mol2
  // header) among them, which no SMILES line is.
  LineReader r;
  line_reader_open(r, input, 0, 0, 0, 0, cx.window);
  std::string line;
  int looked = 0;
  while (looked < 20 && read_line(r, line)) {
    if (is_blank(line)) continue;
    std::string head(first_token(line));
    for (char& c : head) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    // A table's header line ("smiles,name") may come first.
    if (looked == 0 && r.line == 1 && head.find("smiles") != std::string::npos) continue;
    if (!smiles_token(first_token(line))) return;
    ++looked;
  }
  if (looked == 0) return;
  error(std::string(head) + source_named(cx) +
        " looks like SMILES (a SMILES and a name per line), which the command line does not "
        "read: it reads SD and Mol2 files. Convert it first, for example with Open Babel "
        "(obabel -ismi '" + shown(cx.file, false) + "' -O converted.sdf), or give the SMILES to "
        "the Python package (sarvik.FragmentDescriptors)\n");
}

std::vector<std::exception_ptr> run_side_by_side(std::size_t n,
                                                 const std::function<void(std::size_t)>& body) {
  std::vector<std::exception_ptr> failure(n);
  const auto run = [&failure, &body](std::size_t t) {
    try {
      body(t);
    } catch (...) {
      failure[t] = std::current_exception();
    }
  };
  std::vector<std::thread> runners;
  try {
    for (std::size_t t = 0; t < n; ++t) runners.emplace_back(run, t);
  } catch (const std::system_error&) {
    // A thread that cannot start lacks memory for its stack.
    for (std::thread& r : runners) r.join();
    throw std::bad_alloc();
  }
  for (std::thread& r : runners) r.join();
  return failure;
}

bool first_pass_in_parts(std::size_t size, int parts, const FirstPassScan& scan,
                         const PartBoundary& boundary, FirstPassPart& all) {
  // Part t begins at the first place a part may begin at or after t / parts of
  // the input.
  std::vector<std::size_t> begin{0};
  for (int t = 1; t < parts; ++t) {
    const std::size_t from = std::max(size / static_cast<std::size_t>(parts) *
                                          static_cast<std::size_t>(t),
                                      begin.back() + 1);
    const std::size_t b = boundary(from);
    if (b == std::string_view::npos || b >= size) break;
    begin.push_back(b);
  }
  const std::size_t n = begin.size();
  if (n < 2) return false;
  std::vector<FirstPassPart> part(n);
  const std::vector<std::exception_ptr> failure = run_side_by_side(n, [&](std::size_t t) {
    part[t] = scan(begin[t], t + 1 < n ? begin[t + 1] : std::string_view::npos);
  });
  for (std::size_t t = 0; t < n; ++t) {
    // Out of memory (or a stop) is no failure of the input's: reading in one
    // piece could not do better.
    if (failure[t] != nullptr) {
      try {
        std::rethrow_exception(failure[t]);
      } catch (const Error& e) {
        if (e.kind() != ErrorKind::input) throw;
      }
    }
    if (failure[t] != nullptr || !part[t].exact) return false;
  }
  // Every part began where the one before ended, the first at the start: they
  // read the records one pass over the whole input reads. A part notes every
  // stride-th of its own records, so the starts noted are at most stride apart.
  all = FirstPassPart{};
  for (FirstPassPart& p : part) {
    for (RecordStart at : p.starts) {
      at.line += all.lines;
      at.index += all.count;
      all.starts.push_back(at);
    }
    all.count += p.count;
    all.lines += p.lines;
    all.sum = all.sum + p.sum;
    all.labels.insert(all.labels.end(), std::make_move_iterator(p.labels.begin()),
                      std::make_move_iterator(p.labels.end()));
  }
  return true;
}

FirstPassPart whole_first_pass(std::size_t size, int threads, const FirstPassScan& scan,
                               const PartBoundary& boundary) {
  FirstPassPart all;
  if (threads <= 1 || !first_pass_in_parts(size, threads, scan, boundary, all))
    all = scan(0, std::string_view::npos);
  // Parts repeat each other's labels: the first appearance stays.
  std::unordered_set<std::string> seen;
  std::vector<std::string> labels;
  for (std::string& label : all.labels)
    if (seen.insert(label).second) labels.push_back(std::move(label));
  all.labels = std::move(labels);
  return all;
}

}  // namespace sarvik
