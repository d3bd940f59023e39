// The fragment hash table, the per-compound occurrence store, the descriptor file
// and the fragment writers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "driver/generate_all_trees_freq.h"

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// The fragment hash table. Slot positions, probing and id order are those of a
// table of `size` slots; slots are zero-filled at creation, so untouched pages cost
// no memory. Graphs live in `graphs` only until the sweep after their length.
struct FragmentTable {
  // What a fragment of the current length carries besides its graph.
  struct Live {
    int count;       // distinct compounds that met the fragment at this length
    int last_comp;   // the last compound that met it
    int last_entry;  // index of that compound's occurrence entry for it
  };
  std::unique_ptr<graph_hashtbl[], FreeDeleter> slot;
  int size = 0;
  int used = 0;                 // occupied slots, all lengths together
  std::vector<Graph> graphs;    // live graphs of the current length
  std::vector<Live> live;       // parallel to graphs
  std::vector<int> filled;      // slots occupied at the current length
};

// A table of `size` free slots (HASHTBL_SIZE in a run; tests may pass less).
FragmentTable initialize_hash(int size = HASHTBL_SIZE);

// Home slot of a fragment: its key modulo the table size, unsigned.
unsigned generate_hash(const Graph& G, int size);

// A new graph equal to g2 (all arrays and vs, es, ps, key).
Graph copy_graph(const Graph& g2);

// Enters one occurrence of canonical fragment G found in compound compid; count is
// the run's fragment id counter. Ends the run with "HASH TABLE FULL: INCREASE THE
// SIZE\n" when a new fragment finds no free slot.
void hash_graph(const Graph& G, int& count, FragmentTable& hashg, int compid);

// Index of the first entry j, offset <= j < size, of array with id key, or -1.
int find(const std::vector<CSR>& array, int size, int offset, int key);

// Records one occurrence of fragment id in compound compid (frequency 1 for a new
// entry, +1 for an entry of the current length).
void store_id(int id, int compid);

// After a length: every slot filled at this length, in ascending slot order, whose
// count reaches freqt gets descriptor id ++k (map[id] = k) and is written to fp
// (SD writer for filetype 0, Mol2 writer otherwise); then every graph of the
// length is released. Affects output: descriptor ids follow slot order.
void sweep_length(FragmentTable& hashg, int& k, FILE* fp);

// Writes the descriptor file for compounds 0 .. total-1 through map.
void write_file(int total);

// Fragment writers for the live graph of slot index.
void dump_feature_sdf(const FragmentTable& hashg, int index, const LabelSet& ls, FILE* fp);
void dump_feature_mol2(const FragmentTable& hashg, int index, const LabelSet& ls, FILE* fp);
