// Compound input: graph helpers, file helpers, label sets, edge-list
// normalisation and the loading of a whole source.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/common.h"

namespace sarvik {

// ---- files and numbers ----

// The file at path, opened for reading (binary). Error kind input "can't open a
// file '<path>': <reason>\n" ("the descriptor space '<path>'" for a space).
std::FILE* open_input_file(const std::string& path, bool space = false);
// The whole content of the file at path. Error kind input "can't open a file
// '<path>': <reason>\n" or "can't read the file '<path>': <reason>\n" ("the
// descriptor space '<path>'" in both for a space).
std::string read_whole_file(const std::string& path, bool space = false);

// The number the decimal digits at the start of s spell (no sign; 0 when s does
// not start with a digit), saturated at INT_MAX + 1 so that a caller can tell a
// number that does not fit an int; sets *digits to how many digits there are.
// The one integer parser of the library's input and the command line.
long long leading_digits(std::string_view s, std::size_t* digits = nullptr);

#ifdef _WIN32
// A UTF-8 file name as the wide-character API takes it (Windows builds open every
// file through that API, so that names outside the code page work).
std::wstring wide_name(const std::string& utf8);
#endif

// ---- graph record ----

// Index of the first vertex whose vid is id; error "graph lookup vid : can't
// find a vid in a graph <id>\n" when there is none.
int graph_lookup_vid(int id, const Graph& g);

// ---- label sets ----

// Comparison of labels, as strcmp: byte-wise. Affects output: label integers
// are ranks in this order.
int ptr_array_strcmp(const std::string& element, const std::string& key);
// Position of key in a, or -1.
int ptr_array_index(const std::string& key, const PtrArray& a);

// The label set of a run: the vertex labels given (any order, repeats allowed)
// and the edge labels of the format's bond types, each table in byte-wise
// ascending order.
LabelSet make_labelset(const std::vector<std::string>& vertex_labels, Format format);
int graph_index_vertex_labelset(const std::string& str, const LabelSet& ls);
int graph_index_edge_labelset(const std::string& str, const LabelSet& ls);

// ---- edge list normalisation ----

// One directed entry of an edge list: every bond appears as (i, j, l) and (j, i, l).
// bond is the input bond number, carried along (not compared).
struct EdgeEntry {
  int head;
  int tail;
  int label;
  int bond = 0;
};

// Lexicographic order by head, tail, label: -1, 0 or 1.
int compar_edge(const EdgeEntry& a, const EdgeEntry& b);
// Sorts the first n entries.
void sort_edges(EdgeEntry* edge, int n);
// error "duplicated edges %d %d, %d %d\n" when two neighbouring entries of the
// sorted list (g.es long) share head and tail.
void check_duplicated_edges(const EdgeEntry* edge, const Graph& g);
// Fills g.e, g.el and g.v (already sized for g.es and g.vs) from the sorted list,
// and g.eb when it is sized for g.es.
void pack_edges(const EdgeEntry* edge, Graph& g);

// ---- loading ----

// Receives each graph a reader builds, with its 0-based position in the source
// and its name; it may take the graph's arrays.
using GraphSink = std::function<void(int position, const std::string& name, Graph& g)>;

// Where a record begins: the place in the input where a reader starts to look
// for it (for Mol2, behind its header line), its first line's number less one,
// and its 0-based position.
struct RecordStart {
  std::size_t pos = 0;
  long long line = 0;
  int index = 0;
};

// A checksum of bytes at their places in a source: the sum, over the 8-byte
// words at places that are multiples of 8 (little-endian, with the bytes not
// summed taken as 0), of word * K^(place / 8) modulo 2^61 - 1, and the number of
// bytes summed. The sums of disjoint parts add up to the sum of their union, so
// two passes that read a file in different parts, on different threads, can be
// compared: equal sums of the whole file mean (but for a chance of about 2^-55
// per changed word) the same bytes.
struct ByteSum {
  std::uint64_t hash = 0;
  std::uint64_t bytes = 0;
  bool operator==(const ByteSum&) const = default;
};
// The sum of the n bytes at data, which stand at place `at` of their source.
ByteSum byte_sum(std::uint64_t at, const char* data, std::size_t n);
// a + b, for sums of disjoint parts.
ByteSum operator+(const ByteSum& a, const ByteSum& b);

// Bytes of a window over a file read at a time, unless a line is longer.
inline constexpr std::size_t kReadWindow = std::size_t{1} << 20;

// What loading needs to know.
struct LoadRequest {
  const Source* input = nullptr;
  const Source* space = nullptr;  // a descriptor space's fragment file, or none
  int NoAtmLabels = 0;
  int NoBndLabels = 0;
  int threads = 1;             // threads that may read parts of the input side by side
  bool bond_numbers = false;   // fill each compound's eb
  const std::atomic<bool>* cancel = nullptr;
  // Told the number of compounds once the input's first pass has counted them.
  std::function<void(int total)> counted;
  // With a space: each of its records, as built, with its title; labels as
  // written there (without the label options).
  GraphSink space_record;
  // The first pass notes where every stride-th record begins.
  int stride = 16;
  // Bytes read at a time from a file.
  std::size_t window = kReadWindow;
  // Atom labels the label set holds beside the input's (those of a descriptor
  // space held in memory), and what is told the label set once it is made,
  // before the input's graphs are built.
  std::vector<std::string> more_labels;
  std::function<void(const LabelSet& ls)> labelled;
  // An untitled compound is named by its 1-based position plus this.
  int first_position = 0;
};

// The compounds of a source and the run's label set.
struct Loaded {
  std::vector<Graph> G;             // in input order (read_graphs)
  std::vector<std::string> name;    // compound names, in input order (read_graphs)
  LabelSet ls;
  std::vector<std::string> atom_labels;  // the input's distinct atom labels, first
                                         // appearance first
  // What the first pass found: the compounds, where every stride-th of them
  // begins (the first always), and the sum of the whole input.
  int total = 0;
  std::vector<RecordStart> starts;
  ByteSum sum;
  // The input as both passes read it: the file, or (a file that is no regular
  // file, which cannot be read twice) its bytes, held.
  Source input;
  std::shared_ptr<const std::string> held;
};

// The input's first pass (on up to request.threads threads) and the label set:
// everything of out but G and name. The input is read as a stream of windows,
// never held whole (unless it is no regular file). With a space, its records
// are read too (after checking that they are of the input's format), under one
// label set with the compounds: label integers are ranks among the labels of
// both. out.ls is set before the space's records are handed over.
void read_labels(const LoadRequest& request, Loaded& out);
// The filling pass after read_labels: every compound into out.G (without vid,
// the identity) and out.name,
// on up to request.threads threads reading runs of records side by side. Error
// kind input when the input's bytes are not those the first pass read.
void read_graphs(const LoadRequest& request, Loaded& out);
// Error when a descriptor space named `file`, holding Mol2 molecules (mol2) or
// other records, or nothing at all (blank), cannot serve input of `format`.
void check_space_format(const std::string& file, Format format, bool mol2, bool blank);

// Both: every compound of the input with the reader of its format.
void read_compounds(const LoadRequest& request, Loaded& out);

// The `count` compounds from the one whose start `at` is (one of in.starts),
// read after read_labels and handed to take; the bytes of [sum_from, sum_to)
// (npos: to the end) are summed into *sum, also when the reading ends with
// Error kind input. Runs over separate records may be read side by side.
// Returns the compounds read.
int read_record_run(const LoadRequest& request, const Loaded& in, const RecordStart& at, int count,
                    std::size_t sum_from, std::size_t sum_to, const GraphSink& take, ByteSum* sum);
// The sum of the input's bytes from place `from` to its end.
ByteSum sum_input_from(const LoadRequest& request, const Loaded& in, std::size_t from);
// True when f ended with Error kind input: a failure of a reading pass, whose
// bytes were summed.
bool input_failure(const std::exception_ptr& f);
// Error kind input, naming the input, when `sum` (of the whole input, read a
// second time) is not what the first pass read.
void check_input_unchanged(const Loaded& in, const ByteSum& sum);

}  // namespace sarvik
