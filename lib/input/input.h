// Compound input: graph helpers, file and line helpers, label sets, edge-list
// normalisation and the loading of a whole input file.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/common.h"

// ---- memory, files, lines ----

// Makes allocation failure fatal: prints "not enough memory" on standard error and
// ends the process with status 1. Called once by main.
void install_memory_handler();

// The whole content of the file at path. Ends the run (status 1) with
// "can't open a file '<path>': <reason>\n" or "can't read the file '<path>':
// <reason>\n" on standard output.
std::string read_whole_file(const std::string& path);

// The number the decimal digits at the start of s spell (no sign; 0 when s does
// not start with a digit), saturated at INT_MAX + 1 so that a caller can tell a
// number that does not fit an int; sets *digits to how many digits there are.
// The one integer parser of the program's input and command line.
long long leading_digits(std::string_view s, std::size_t* digits = nullptr);

#ifdef _WIN32
// A UTF-8 file name as the wide-character API takes it (Windows builds open every
// file through that API, so that names outside the code page work).
std::wstring wide_name(const std::string& utf8);
#endif

// ---- graph record ----

// Index of the first vertex whose vid is id; ends the run with
// "graph lookup vid : can't find a vid in a graph <id>\n" when there is none.
int graph_lookup_vid(int id, const Graph& g);

// ---- sorted pointer array and label sets ----

// Comparison of an array element (first) with a key (second), as strcmp.
using PtrCompare = int (*)(const std::string& element, const std::string& key);
int ptr_array_strcmp(const std::string& element, const std::string& key);

void ptr_array_append(const std::string& s, PtrArray& a);
void ptr_array_insert(const std::string& s, PtrArray& a, int pos);  // 0 <= pos < top
void ptr_array_add(const std::string& key, PtrArray& a, PtrCompare compar);
int ptr_array_index(const std::string& key, const PtrArray& a, PtrCompare compar);
const std::string* ptr_array_search(const std::string& key, const PtrArray& a,
                                    PtrCompare compar);

LabelSet graph_init_labelset();
void graph_register_vertex_label_to_set(const std::string& str, LabelSet& ls);
void graph_register_edge_label_to_set(const std::string& str, LabelSet& ls);
int graph_index_vertex_labelset(const std::string& str, const LabelSet& ls);
int graph_index_edge_labelset(const std::string& str, const LabelSet& ls);
// The label set of a dictionary text: "#" comment lines, "E <label>" and
// "V <label>" lines.
LabelSet graph_load_labelset(const std::string& text);
void graph_free_labelset(LabelSet& ls);

// ---- edge list normalisation ----

// One directed entry of an edge list: every bond appears as (i, j, l) and (j, i, l).
struct EdgeEntry {
  int head;
  int tail;
  int label;
};

// Lexicographic order by head, tail, label: -1, 0 or 1.
int compar_edge(const EdgeEntry& a, const EdgeEntry& b);
// Sorts the first n entries.
void sort_edges(EdgeEntry* edge, int n);
// Ends the run with "duplicated edges %d %d, %d %d\n" when two neighbouring
// entries of the sorted list (g.es long) share head and tail.
void check_duplicated_edges(const EdgeEntry* edge, const Graph& g);
// Fills g.e, g.el and g.v (already sized for g.es and g.vs) from the sorted list.
void pack_edges(const EdgeEntry* edge, Graph& g);

// ---- loading ----

// Receives each graph a reader builds, with its 0-based position in the file; it
// may take the graph's arrays.
using GraphSink = std::function<void(int position, Graph& g)>;

// Loads every compound of filestub with the reader chosen by filetype, and prints
// "total compounds = %d\n"; sets name, ls, csr and csrcount (one empty
// occurrence list per compound). Returns the compound graphs in file order. With
// space given, also reads the records of dspace_file (a fragment file of the same
// format) under one label set with the compounds, each handed to space with
// name[position] its title line, labels as written there (without the label
// options).
std::vector<Graph> read_compounds(const GraphSink* space = nullptr);
