// Internals of the compound input module that the unit tests reach: the line
// reader shared by the passes and the individual reader passes.
#pragma once

#include <climits>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "input/input.h"

namespace sarvik {

// Hands out the lines of a source: bytes in memory, or a file read in windows
// through a handle of the reader's own (so readers of one file may work side by
// side). A line comes without its newline, and a carriage return right before
// the newline is dropped too, so a file with Windows line endings reads exactly
// like its Unix twin. Lines have no length limit (a window grows to hold the
// longest). Places (pos, line_start) are byte offsets in the source. Each reader
// sums the bytes of one range of the source (ByteSum), whatever it reads of them
// and in whatever order.
struct LineReader {
  std::string_view text;  // the window: bytes base .. base + text.size() - 1
  std::size_t base = 0;
  std::size_t pos = 0;         // where the next line begins
  long long line = 0;          // lines handed out so far: the number of the last one
  std::size_t line_start = 0;  // where the last line handed out began
  // A file: its handle (null for bytes in memory), the window's storage, and
  // whether the window reaches the end of the file.
  std::shared_ptr<std::FILE> file;
  std::string path;
  std::unique_ptr<char[]> storage;
  std::size_t room = 0;  // bytes of storage
  std::size_t window = kReadWindow;
  bool at_eof = true;
  // The summed range [sum_from, sum_to) and how far it is summed.
  ByteSum sum;
  std::size_t sum_from = 0;
  std::size_t sum_to = 0;
  std::size_t summed = 0;
};

// Opens r on `source` at place `at`, lines counted from `line` on; it sums the
// bytes of [sum_from, sum_to) (npos: to the end of the source; sum_from ==
// sum_to: none). A file that cannot be opened: Error "can't open a file
// '<path>': <reason>\n"; one that cannot be read (a folder): "can't read the file
// '<path>': <reason>\n", when it is read.
void line_reader_open(LineReader& r, const Source& source, std::size_t at = 0, long long line = 0,
                      std::size_t sum_from = 0, std::size_t sum_to = 0,
                      std::size_t window = kReadWindow);
// Puts the next line into line; false at end of input (line is then empty).
bool read_line(LineReader& r, std::string& line);
// Goes back (or on) to place pos, whose line number is `line`.
void line_reader_seek(LineReader& r, std::size_t pos, long long line);
// True when no byte follows pos.
bool line_reader_at_end(LineReader& r);
// Reads what is left of the summed range and returns its sum.
ByteSum line_reader_finish(LineReader& r);
// Hands the bytes of source from place `from` on to take, window by window, in
// order (a file is read with a handle of its own).
void scan_source(const Source& source, std::size_t from,
                 const std::function<void(std::string_view bytes)>& take);

// The records a filling pass reads: `count` of them from record `first` (0-based),
// which begins at `at`; by default all. The pass sums the bytes of [sum_from,
// sum_to) (npos: to the end of the input).
struct RecordRun {
  int first = 0;
  int count = INT_MAX;
  RecordStart at;
  std::size_t sum_from = 0;
  std::size_t sum_to = std::string_view::npos;
};

// How a reader reads one source: its name in messages, the label options, the
// label set (filling passes), whether compounds keep their bond numbers, the
// flag that cancels the run, the window of its line readers and which record
// starts a first pass notes.
struct ReadContext {
  std::string file;
  bool space = false;  // the source is a descriptor space, and messages say so
  int NoAtmLabels = 0;
  int NoBndLabels = 0;
  const LabelSet* ls = nullptr;
  bool bond_numbers = false;
  const std::atomic<bool>* cancel = nullptr;
  std::size_t window = kReadWindow;
  int stride = 1;
  // An untitled compound is named by its position plus this (the compounds
  // of the collection before this source, when it is one shard of several).
  int first_position = 0;
};

// The compound at `position` named `name`, at input line `line` (0: no one
// line) of the source cx reads, as failures name it.
inline CompoundPlace place_of(const ReadContext& cx, int position, std::string name,
                              long long line) {
  return CompoundPlace{true, position, std::move(name), line, cx.file, cx.space};
}
// The source in messages: '<file>', or the descriptor space '<file>'.
inline std::string source_named(const ReadContext& cx) {
  return (cx.space ? "the descriptor space '" : "'") + shown(cx.file, false) + "'";
}

// Whether a byte is a control character no label may hold: below 0x20 but
// tab, or 0x7F.
inline bool control_byte(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u < 0x20 && u != '\t') || u == 0x7F;
}

// Refuses input that is no file of the reader's format but looks like SMILES
// (per line one token of SMILES characters, then perhaps a name; no counts
// line), naming SMILES and how to convert it. `head` begins the message
// ("read sdf file : ").
void refuse_smiles(const Source& input, const ReadContext& cx, const char* head);

// What a first pass found in a part of the input (or all of it): its records,
// where every stride-th of them begins (its index and line counted from the
// part's start), its atom labels in order of first appearance within the part,
// and the sum of the part's bytes.
struct FirstPassPart {
  int count = 0;
  std::vector<RecordStart> starts;
  std::vector<std::string> labels;
  long long lines = 0;  // lines read
  bool exact = false;   // its last record ends exactly at the part's end
  ByteSum sum;
};

// SD reader passes over the input. calculate_total_comps counts the records,
// notes where every cx.stride-th begins, collects the atom labels (in order of
// first appearance over the whole input, without repeats) and sums the whole
// input; it may read parts of the input on up to `threads` threads, with the
// same results. read_sdf_file builds one graph per record of `run`, hands it to
// take with the record's 0-based position and name, and returns the number of
// records read; when it returns, or ends with Error kind input, *sum (when
// given) holds the sum of the run's range. A non-empty input without any
// record is refused. Filling passes over separate runs of records may work side
// by side.
FirstPassPart calculate_total_comps(const Source& input, const ReadContext& cx, int threads = 1);
int read_sdf_file(const Source& input, const ReadContext& cx, const GraphSink& take,
                  const RecordRun& run = {}, ByteSum* sum = nullptr);

// Mol2 reader passes, with the same contracts.
FirstPassPart calculate_total_comps_mol2(const Source& input, const ReadContext& cx,
                                         int threads = 1);
int read_mol2_file(const Source& input, const ReadContext& cx, const GraphSink& take,
                   const RecordRun& run = {}, ByteSum* sum = nullptr);

// Shared by both readers.

// Runs body(0) .. body(n-1) each on a thread of its own; returns what each
// ended with (null: it returned). Running out of memory for a thread's start is
// std::bad_alloc of that thread.
std::vector<std::exception_ptr> run_side_by_side(std::size_t n,
                                                 const std::function<void(std::size_t)>& body);

// The first pass over `parts` parts of the input side by side, each on a thread
// of its own: scan(begin, end) reads the records from `begin` up to `end` (npos:
// the end of input) and sums those bytes; boundary(from) finds where a part may
// begin at or after `from` (npos: nowhere). Merged as one pass over the whole
// input would have found it, into `all`; false, with `all` unset, when some
// part failed or did not end where the next began, so that the caller reads the
// input as one part (which says exactly what is wrong, where there is
// something).
using FirstPassScan = std::function<FirstPassPart(std::size_t begin, std::size_t end)>;
using PartBoundary = std::function<std::size_t(std::size_t from)>;
bool first_pass_in_parts(std::size_t size, int parts, const FirstPassScan& scan,
                         const PartBoundary& boundary, FirstPassPart& all);
// A reader's first pass over the whole input of `size` bytes: in parts on up to
// `threads` threads where that works, else in one piece; labels without repeats.
FirstPassPart whole_first_pass(std::size_t size, int threads, const FirstPassScan& scan,
                               const PartBoundary& boundary);
// The size of a source: its bytes, or the file's size now.
std::size_t source_size(const Source& source);

// Builds g's adjacency from bonds: both directions of every bond, atom numbers
// passed through graph_lookup_vid, then sort, duplicate check and packing.
// g.vs, g.vid and g.vl must be set; g.es, g.e, g.el, g.v (and g.eb with
// bond_numbers, else emptied) are (re)sized here. edges is scratch reused from
// compound to compound.
void build_graph_from_bonds(Graph& g, const std::vector<EdgeEntry>& bonds,
                            std::vector<EdgeEntry>& edges, bool bond_numbers);

// Largest compound either reader takes: atoms, and bonds (999 ends of bonds). A
// larger one ends the run with "Graph <name> is too large : ...".
inline constexpr int MAX_COMPOUND_ATOMS = 999;
inline constexpr int MAX_COMPOUND_BONDS = 499;

// How a reader's messages about a compound read: "<head><what><of><name>\n".
struct ReaderWords {
  const char* head;  // "read sdf file : "
  const char* of;    // " of compound "
};
// Throws the reader's message about the compound at `place`.
[[noreturn]] void refuse_compound(const ReaderWords& words, const std::string& what,
                                  const CompoundPlace& place);
// Runs f; a failure in it that names no compound is made to name `place`, as
// it stands when the failure comes (an inactive place names none).
template <class F>
void at_place(const CompoundPlace& place, F&& f) {
  try {
    f();
  } catch (const Error& e) {
    if (e.place().active || !place.active) throw;
    throw Error(e.kind(), e.message(), place);
  }
}
// The 0-based atom of a bond's atom field of bond line `bond` (0-based) of compound
// g (g.vs its atoms) at `place`: `field` as written, `n` its value when
// `numeric`. Refuses a field that is not a number from 1 to g.vs; one beyond
// the atoms gets the lookup's own message.
int bond_atom(const ReaderWords& words, const CompoundPlace& place, std::string_view field,
              bool numeric, int n, int bond, const Graph& g);
// What a filling pass keeps from compound to compound.
struct CompoundBuilder {
  Graph g;                       // the compound being built; the sink may take its arrays
  std::vector<EdgeEntry> bonds;  // its bonds as read: 0-based atoms, edge label integer
  std::vector<EdgeEntry> edges;  // scratch of build_graph_from_bonds
  CompoundPlace place;           // the compound being built, named in failures
};
// Starts a compound with `atoms` atoms: sets vs, vid (the identity) and the size
// of vl, empties bonds; refuses a compound with more atoms or bonds than the
// limits ("Graph <name> is too large : ...").
void begin_compound(CompoundBuilder& b, int atoms, int bonds);
// Builds the graph from its bonds (a repeated bond has no one line to blame);
// keeps bond numbers when bond_numbers. The graph then goes to the pass's sink,
// outside the compound's place: what the sink refuses is about no compound of
// this reading (a descriptor space's record names itself).
void finish_compound(CompoundBuilder& b, bool bond_numbers);

// Splits line at runs of spaces and tabs; the views point into line.
void split_fields(const std::string& line, std::vector<std::string_view>& fields);
// True when line holds nothing but spaces and tabs.
bool is_blank(const std::string& line);
// True when text holds nothing but spaces, tabs and line ends.
bool is_blank_text(std::string_view text);
// As atoi on the leading part of s (optional sign, then digits), saturated to
// -INT_MAX .. INT_MAX so that no input overflows (also after subtracting 1).
// The digits are read by leading_digits.
int leading_int(std::string_view s);
// True when s is a whole decimal number: digits, with only spaces around them
// (no sign, no inner space, at least one digit).
bool is_number_field(std::string_view s);

}  // namespace sarvik
