// The fragment hash table, the per-compound occurrence store, the form codec,
// the descriptor file and the fragment writers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/common.h"

namespace sarvik {

// Where a writer's text goes, piece by piece in order.
using TextSink = std::function<void(std::string_view text)>;

// ---- the occurrence store ----

// One occurrence list per compound, in input order, with its bookkeeping, and
// the wraps of CSR::freq by compound << 32 | entry (nearly always empty).
struct OccurrenceStore {
  std::vector<std::vector<CSR>> csr;
  std::vector<CSRcount> csrcount;
  std::unordered_map<std::uint64_t, std::uint64_t> csr_carry;
};

// An empty list for each of `total` compounds, with capacity CSR_LEN.
void occurrences_init(OccurrenceStore& occ, int total);
// One more occurrence in entry `entry` of compound compid's list.
inline void csr_count_one(OccurrenceStore& occ, int compid, int entry) {
  if (++occ.csr[compid][entry].freq == 0)
    ++occ.csr_carry[static_cast<std::uint64_t>(compid) << 32 | static_cast<std::uint32_t>(entry)];
}
// n more occurrences in that entry.
void csr_count_add(OccurrenceStore& occ, int compid, int entry, std::uint64_t n);
// The occurrences of entry `entry` of compound compid's list.
std::uint64_t csr_occurrences(const OccurrenceStore& occ, int compid, int entry);
// After compound compid at a length: its entries of the next length start
// behind all made so far.
inline void csr_end_length(OccurrenceStore& occ, int compid) {
  occ.csrcount[compid].offset = occ.csrcount[compid].size;
}

// ---- the form codec ----
// A canonical form as the table keeps it and as threads hand it over: vs, es,
// v[0..vs-1], vl[0..vs-1], e[0..es-1], el[0..es-1], each element `width` bytes
// (1, 2 or 4). That is exactly what decides graph_compare's equality once the
// keys are equal (v[vs] is es), so two forms of one width are byte-equal exactly
// when the graphs compare equal.

// Smallest element width that holds every value of g's form.
int form_width(const Graph& g);
// Bytes of a form of vs vertices and es adjacency entries at `width`.
inline std::size_t form_bytes(int vs, int es, int width) {
  return static_cast<std::size_t>(2 + 2 * vs + 2 * es) * static_cast<std::size_t>(width);
}
// Writes g's form at `width` (at least form_width(g)) to dst.
void pack_form(const Graph& g, int width, unsigned char* dst);
// Fills g's vs, es, v, vl, e and el from a form.
void unpack_form(const unsigned char* src, int width, Graph& g);
// The first element (vs) of a form.
int form_vertices(const unsigned char* src, int width);

// ---- the fragment table ----

// The fragment hash table. Slot positions, probing and id order are those of a
// table of `size` slots probed linearly from the key's home slot; what the table
// keeps of a slot is only whether it was ever filled (one bit), since a slot whose
// fragment belongs to an earlier length never matches again. The fragments of the
// current length are kept as forms, with an index by key, until the sweep after
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
    int at;          // first element of its form in `packed`
  };
  // One entry of the index by key: live + 1 (0 for an empty entry) and the key.
  struct Index {
    unsigned key;
    int live;
  };
  int size = 0;
  int used = 0;   // occupied slots, all lengths together
  int count = 0;  // fragment ids handed out, all lengths together
  // Changes whenever the live fragments are dropped (at every sweep): live
  // indices are valid only while it stays the same.
  std::uint64_t generation = 1;
  std::vector<std::uint64_t> occupied;  // bit s: slot s was ever filled; bits
                                        // past `size` are set
  std::vector<Live> live;              // current length, in order of first entry
  // Forms of the live fragments, each at `width`, wide enough for every value
  // stored since the last sweep.
  std::vector<unsigned char> packed;
  int width = 1;
  std::vector<Index> index;            // open addressing, size a power of two
  // Scratch reused for every fragment: the probe's form and the sweep's slot
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

// Enters one occurrence of canonical fragment G found in compound compid. New
// fragments get the next fragment id (hashg.count). Returns the fragment's live
// index: its place among the fragments of the current length, valid until the
// next sweep. Error kind table_full "HASH TABLE FULL: INCREASE THE SIZE\n" when a
// new fragment finds no free slot.
int hash_graph(const Graph& G, FragmentTable& hashg, OccurrenceStore& occ, int compid);
// The same for a fragment given as its form (at `width`) and key.
int hash_form(const unsigned char* form, int width, unsigned key, FragmentTable& hashg,
              OccurrenceStore& occ, int compid);

// Enters one more occurrence of the fragment with live index `live` in compound
// compid, exactly as hash_graph would for an equal graph.
void count_occurrence(FragmentTable& t, OccurrenceStore& occ, int live, int compid);
// n occurrences at once, as n calls of count_occurrence.
void count_occurrences(FragmentTable& t, OccurrenceStore& occ, int live, int compid,
                       std::uint64_t n);

// The live index of the fragment equal to canonical graph G, or -1; enters
// nothing (for self-checks).
int table_find(FragmentTable& t, const Graph& G);

// Index of the first entry j, offset <= j < size, of array with id key, or -1.
int find(const std::vector<CSR>& array, int size, int offset, int key);

// The descriptor fragments of one length as the sweep leaves them for writing:
// their forms (taken over from the table) and, in descriptor order, each one's
// fragment id, key and place in `packed`.
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

// What the sweep reads: the minimum frequency, the format of the fragment file
// and the labels its records will show.
struct SweepRule {
  int freqt = 1;
  Format format = Format::sd;
  const LabelSet* ls = nullptr;
};

// After a length: every fragment of this length, in ascending slot order, whose
// count reaches freqt gets descriptor id ++k (map[id] = k, map grown to the ids
// handed out) and a record in `records`; then the table drops the length's
// fragments. An atom label no SD record holds ends the run here, as the SD
// writer would. Affects output: descriptor ids follow slot order.
void sweep_length(FragmentTable& hashg, const SweepRule& rule, int& k, std::vector<int>& map,
                  FragmentRecords& records);
// Ends the run with the SD writer's message when `label` does not fit the SD atom
// symbol field (fragment id `id` being written).
void check_sd_atom_label(const std::string& label, int id);
// Writes the records, SD records or Mol2 molecules after `format`, with the
// labels of `labels`, laid out on `threads` threads. Reads nothing the
// enumeration changes, so that it may run beside the next length.
void write_fragment_records(const FragmentRecords& records, const LabelSet& labels, Format format,
                            int threads, const TextSink& sink,
                            const std::atomic<bool>* cancel = nullptr);

// With a descriptor space, in place of the entering and the sweep: makes the
// descriptors `ids` (in this order) the live fragments of the length, with no
// compound yet and map[id] = id.
void table_begin_space_length(FragmentTable& t, const std::vector<int>& ids, std::vector<int>& map);
// Ends such a length: returns how many of its live fragments some compound met,
// then drops them.
int table_end_space_length(FragmentTable& t);

// The descriptor file for every compound of occ through map, named by name, its
// lines laid out on `threads` threads.
void write_descriptor_file(const OccurrenceStore& occ, const std::vector<int>& map,
                           const std::vector<std::string>& name, int threads,
                           const TextSink& sink, const std::atomic<bool>* cancel = nullptr);
// Compound i's descriptors (id, count) in descriptor-file order, into pairs.
void descriptor_vector(const OccurrenceStore& occ, const std::vector<int>& map, int i,
                       std::vector<DescriptorCount>& pairs);

}  // namespace sarvik
