// Internals of the compound input module that the unit tests reach: the line
// reader shared by the passes and the individual reader passes.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "input/input.h"

// Reads a file line by line in large blocks. A line is handed out without its
// newline, and a carriage return right before the newline is dropped too, so a
// file with Windows line endings reads exactly like its Unix twin. Lines have
// no length limit. The reader does not own fp.
struct LineReader {
  FILE* fp = nullptr;
  std::vector<char> block;
  std::size_t pos = 0;
  std::size_t end = 0;
  bool at_eof = false;
  long long line = 0;  // lines handed out so far: the number of the last one
};

void line_reader_open(LineReader& r, FILE* fp);
// Puts the next line into line; false at end of input (line is then empty).
bool read_line(LineReader& r, std::string& line);

// SD reader passes. calculate_total_comps writes the dictionary file, fills
// hashdict and prints "total compounds = %d\n"; init_graph_all allocates one
// graph per record; read_sdf_file fills them and name (sized by the caller),
// reads fp to its end, closes it and returns the number of records read.
int calculate_total_comps();
std::vector<Graph> init_graph_all(int total_comp);
int read_sdf_file(FILE* fp, std::vector<Graph>& rule_vec);

// Mol2 reader passes, with the same contracts.
int calculate_total_comps_mol2();
std::vector<Graph> init_graph_all_mol2(int total_comp);
int read_mol2_file(FILE* fp, std::vector<Graph>& rule_vec);

// Shared by both readers.

// The dictionary text of a first pass, kept in memory and written once the
// whole input has been checked, so that a refused input leaves no dictionary.
struct DictionaryBuilder {
  std::unordered_set<std::string> seen;
  std::string text;
};
// Starts the text with the comment line and the fixed edge block; empties
// hashdict, which the first pass fills from its first entry.
void dictionary_begin(DictionaryBuilder& d, const char* edge_block);
// Appends "V <label>" and stores label in hashdict when it is new. Vertex lines
// follow first appearance in the input. Affects output (dictionary file).
void dictionary_add_vertex_label(DictionaryBuilder& d, const std::string& label);
// Writes the text to filestub + ".dict".
void dictionary_write(const DictionaryBuilder& d);

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
// As atoi on the leading part of s (optional sign, then digits), saturated to
// -INT_MAX .. INT_MAX so that no input overflows (also after subtracting 1).
int leading_int(std::string_view s);
