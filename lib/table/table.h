// The fragment hash table, the per-compound occurrence store, the descriptor file
// and the fragment writers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/common.h"

// The fragment hash table. Slot positions, probing and id order are those of a
// table of `size` slots probed linearly from the key's home slot; what the table
// keeps of a slot is only whether it was ever filled (one bit), since a slot whose
// fragment belongs to an earlier length never matches again. The fragments of the
// current length are kept packed, with an index by key, until the sweep after
// their length.
struct FragmentTable {
  // A fragment of the current length.
  struct Live {
    unsigned key;    // hash key of its canonical form
    int slot;        // the slot it occupies
    int id;          // its fragment id
    std::int64_t count;  // distinct compounds that met it at this length
    int last_comp;   // the last compound that met it
    int last_entry;  // index of that compound's occurrence entry for it
    int at;          // first element of its packed form in `packed`
  };
  // One entry of the index by key: live + 1 (0 for an empty entry) and the key.
  struct Index {
    unsigned key;
    int live;
  };
  int size = 0;
  int used = 0;                        // occupied slots, all lengths together
  // Changes whenever the live fragments are dropped (at every sweep), and differs
  // between tables: live indices are valid only while it stays the same.
  std::uint64_t generation = 0;
  std::vector<std::uint64_t> occupied;  // bit s: slot s was ever filled; bits
                                        // past `size` are set
  std::vector<Live> live;              // current length, in order of first entry
  // Packed canonical forms of the live fragments: vs, es, v[0..vs-1],
  // vl[0..vs-1], e[0..es-1], el[0..es-1], each element `width` bytes (1, 2 or
  // 4), wide enough for every value stored since the last sweep.
  std::vector<unsigned char> packed;
  int width = 1;
  std::vector<Index> index;            // open addressing, size a power of two
  // Scratch reused for every fragment: the probe packed and the sweep's slot
  // order.
  std::vector<unsigned char> probe;
  std::vector<std::uint64_t> order;
  // With a descriptor space: occurrences of fragments outside it, all lengths.
  std::int64_t outside = 0;
};

// A table of `size` free slots (HASHTBL_SIZE in a run; tests may pass less).
FragmentTable initialize_hash(int size = HASHTBL_SIZE);

// Home slot of a fragment: its key modulo the table size, unsigned.
unsigned generate_hash(const Graph& G, int size);

// Enters one occurrence of canonical fragment G found in compound compid; count is
// the run's fragment id counter. Returns the fragment's live index: its place
// among the fragments of the current length, valid until the next sweep. Ends
// the run with "HASH TABLE FULL: INCREASE THE SIZE\n" when a new fragment finds
// no free slot.
int hash_graph(const Graph& G, int& count, FragmentTable& hashg, int compid);

// Enters one more occurrence of the fragment with live index `live` in compound
// compid, exactly as hash_graph would for an equal graph.
void count_occurrence(FragmentTable& t, int live, int compid);

// n occurrences at once, as n calls of count_occurrence.
void count_occurrences(FragmentTable& t, int live, int compid, std::uint64_t n);

// The live index of the fragment equal to canonical graph G, or -1; enters
// nothing (for self-checks).
int table_find(FragmentTable& t, const Graph& G);

// Index of the first entry j, offset <= j < size, of array with id key, or -1.
int find(const std::vector<CSR>& array, int size, int offset, int key);

// The descriptor fragments of one length as the sweep leaves them for writing:
// their packed forms (taken over from the table) and, in descriptor order, each
// one's fragment id, key and place in `packed`.
struct FragmentRecords {
  struct Record {
    int id;
    unsigned key;
    int at;
  };
  std::vector<unsigned char> packed;
  int width = 1;
  std::vector<Record> records;
};

// After a length: every fragment of this length, in ascending slot order, whose
// count reaches freqt gets descriptor id ++k (map[id] = k) and a record in
// `records`; then the table drops the length's fragments. Ends the run as the SD
// writer would on a descriptor with an atom label no SD record holds. Affects
// output: descriptor ids follow slot order.
void sweep_length(FragmentTable& hashg, int& k, FragmentRecords& records);
// Writes the records to fp (SD writer for filetype 0, Mol2 writer otherwise),
// with the labels of `labels`, laid out on `threads` threads. Reads nothing the
// enumeration changes, so that it may run beside the next length.
void write_fragment_records(const FragmentRecords& records, const LabelSet& labels, FILE* fp,
                            int threads = 1);
// Both, one after the other.
void sweep_length(FragmentTable& hashg, int& k, FILE* fp);

// With a descriptor space, in place of the entering and the sweep: makes the
// descriptors `ids` (in this order) the live fragments of the length, with no
// compound yet and map[id] = id.
void table_begin_space_length(FragmentTable& t, const std::vector<int>& ids);
// Ends such a length: returns how many of its live fragments some compound met,
// then drops them.
int table_end_space_length(FragmentTable& t);

// Output writers (writers.cpp). The descriptor file for compounds 0 .. total-1
// through map, to fp (left open: the caller checks and closes it), its lines
// laid out on `threads` threads.
void write_file(int total, FILE* fp, int threads = 1);
