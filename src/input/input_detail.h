// Internals of the compound input module that the unit tests reach: the line
// reader shared by the passes and the individual reader passes.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "input/input.h"

// Hands out the lines of an input held in memory. A line comes without its
// newline, and a carriage return right before the newline is dropped too, so a
// file with Windows line endings reads exactly like its Unix twin. Lines have
// no length limit. The reader does not own the text.
struct LineReader {
  std::string_view text;
  std::size_t pos = 0;
  long long line = 0;  // lines handed out so far: the number of the last one
};

void line_reader_open(LineReader& r, std::string_view text);
// Puts the next line into line; false at end of input (line is then empty).
bool read_line(LineReader& r, std::string& line);

// SD reader passes over the input's bytes. calculate_total_comps fills hashdict
// and the dictionary text `dict` and returns the number of records;
// read_sdf_file builds one graph per record, hands it to take with the record's
// 0-based position, fills name (sized by the caller) and returns the number of
// records read. A non-empty input without any record
// is refused.
int calculate_total_comps(std::string_view input, std::string& dict);
int read_sdf_file(std::string_view input, const GraphSink& take);

// Mol2 reader passes, with the same contracts.
int calculate_total_comps_mol2(std::string_view input, std::string& dict);
int read_mol2_file(std::string_view input, const GraphSink& take);

// Shared by both readers.

// The dictionary text of a first pass, held in memory: the label set is loaded
// from it.
struct DictionaryBuilder {
  std::unordered_set<std::string> seen;
  std::string text;
};
// Starts the text with the comment line and the fixed edge block; empties
// hashdict, which the first pass fills from its first entry.
void dictionary_begin(DictionaryBuilder& d, const char* edge_block);
// Appends "V <label>" and stores label in hashdict when it is new. Vertex lines
// follow first appearance in the input, as the dictionary text always had them.
void dictionary_add_vertex_label(DictionaryBuilder& d, const std::string& label);

// One bond as read: 0-based atom numbers and the edge label integer.
// Builds g's adjacency from bonds: both directions of every bond, atom numbers
// passed through graph_lookup_vid, then sort, duplicate check and packing.
// g.vs, g.vid and g.vl must be set; g.es, g.e, g.el and g.v are (re)sized here.
// edges is scratch reused from compound to compound.
void build_graph_from_bonds(Graph& g, const std::vector<EdgeEntry>& bonds,
                            std::vector<EdgeEntry>& edges);

// Splits line at runs of spaces and tabs; the views point into line.
void split_fields(const std::string& line, std::vector<std::string_view>& fields);
// True when line holds nothing but spaces and tabs.
bool is_blank(const std::string& line);
// True when text holds nothing but spaces, tabs and line ends.
bool is_blank_text(std::string_view text);
// As atoi on the leading part of s (optional sign, then digits), saturated to
// -INT_MAX .. INT_MAX so that no input overflows (also after subtracting 1).
int leading_int(std::string_view s);
// True when s is a whole decimal number: digits, with only spaces around them
// (no sign, no inner space, at least one digit).
bool is_number_field(std::string_view s);
