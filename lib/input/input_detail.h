// Internals of the compound input module that the unit tests reach: the line
// reader shared by the passes and the individual reader passes.
#pragma once

#include <climits>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "input/input.h"

namespace sarvik {

// Hands out the lines of an input held in memory. A line comes without its
// newline, and a carriage return right before the newline is dropped too, so a
// file with Windows line endings reads exactly like its Unix twin. Lines have
// no length limit. The reader does not own the text.
struct LineReader {
  std::string_view text;  // LineReader{text} starts at its first line
  std::size_t pos = 0;
  long long line = 0;  // lines handed out so far: the number of the last one
};

void line_reader_open(LineReader& r, std::string_view text);
// Puts the next line into line; false at end of input (line is then empty).
bool read_line(LineReader& r, std::string& line);

// Where a record begins: the line reader's place when the reader starts to look
// for it. The first pass notes them, so that a filling pass can begin at any
// record.
struct RecordStart {
  std::size_t pos = 0;
  long long line = 0;
};
// The records a filling pass reads: `count` of them from record `first` (0-based),
// which begins at `at`; by default all.
struct RecordRun {
  int first = 0;
  int count = INT_MAX;
  RecordStart at;
};

// How a reader reads one source: its name in messages, the label options, the
// label set (filling passes), whether compounds keep their bond numbers, and the
// flag that cancels the run.
struct ReadContext {
  std::string file;
  bool space = false;  // the source is a descriptor space, and messages say so
  int NoAtmLabels = 0;
  int NoBndLabels = 0;
  const LabelSet* ls = nullptr;
  bool bond_numbers = false;
  const std::atomic<bool>* cancel = nullptr;
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
void refuse_smiles(std::string_view input, const ReadContext& cx, const char* head);

// What a first pass found in a part of the input (or all of it): its records,
// where each begins (lines counted from the part's start) and its atom labels
// in order of first appearance within the part.
struct FirstPassPart {
  int count = 0;
  std::vector<RecordStart> starts;
  std::vector<std::string> labels;
  long long lines = 0;  // lines read
  bool exact = false;   // its last record ends exactly at the part's end
};

// SD reader passes over the input's bytes. calculate_total_comps counts the
// records, notes where each begins and collects the atom labels (labels in
// order of first appearance over the whole input, without repeats); it may read
// parts of the input on up to `threads` threads, with the same results.
// read_sdf_file builds one graph per record of `run`, hands it to take with the
// record's 0-based position and name, and returns the number of records read. A
// non-empty input without any record is refused. Filling passes over separate
// runs of records may work side by side.
FirstPassPart calculate_total_comps(std::string_view input, const ReadContext& cx,
                                    int threads = 1);
int read_sdf_file(std::string_view input, const ReadContext& cx, const GraphSink& take,
                  const RecordRun& run = {});

// Mol2 reader passes, with the same contracts.
FirstPassPart calculate_total_comps_mol2(std::string_view input, const ReadContext& cx,
                                         int threads = 1);
int read_mol2_file(std::string_view input, const ReadContext& cx, const GraphSink& take,
                   const RecordRun& run = {});

// Shared by both readers.

// Runs body(0) .. body(n-1) each on a thread of its own; returns what each
// ended with (null: it returned). Running out of memory for a thread's start is
// std::bad_alloc of that thread.
std::vector<std::exception_ptr> run_side_by_side(std::size_t n,
                                                 const std::function<void(std::size_t)>& body);

// The first pass over `parts` parts of the input side by side, each on a thread
// of its own: scan(input, begin, end) reads the records from `begin` up to `end`
// (npos: the end of input); boundary(input, from) finds where a part may begin
// at or after `from`. Merged as one pass over the whole input would have found
// it, into `all`; false, with `all` unset, when some part failed or did not end
// where the next began, so that the caller reads the input as one part (which
// says exactly what is wrong, where there is something).
using FirstPassScan = std::function<FirstPassPart(std::string_view input, std::size_t begin,
                                                  std::size_t end)>;
using PartBoundary = std::size_t (*)(std::string_view input, std::size_t from);
bool first_pass_in_parts(std::string_view input, int parts, const FirstPassScan& scan,
                         PartBoundary boundary, FirstPassPart& all);
// A reader's first pass over the whole input: in parts on up to `threads`
// threads where that works, else in one piece; labels without repeats.
FirstPassPart whole_first_pass(std::string_view input, int threads, const FirstPassScan& scan,
                               PartBoundary boundary);

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
