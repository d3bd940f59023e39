// The fragment hash table, the per-compound occurrence store, the form codec,
// the descriptor file and the fragment writers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/common.h"

namespace sarvik {

// Where a writer's text goes, piece by piece in order.
using TextSink = std::function<void(std::string_view text)>;

// ---- the occurrence store ----

// Where a spill's bytes go once they leave memory: appended in order, and read
// back from any place by any thread (the descriptor file is laid out on
// several threads).
struct SpillFile {
  std::function<void(std::string_view bytes)> append;
  std::function<void(std::uint64_t at, char* dst, std::size_t n)> read;
};

// Bytes appended in order and read back by place: all held in memory, or (with
// a file) held only until a block is full, then written out.
struct Spill {
  SpillFile file;                   // no append: all held
  std::vector<char> held;           // bytes from held_from on
  std::uint64_t held_from = 0;
  std::uint64_t size = 0;           // bytes appended
};

// The occurrence lists: per compound and length, the fragments the compound met
// at that length in the order it first met them, each with how many times.
// Compounds are entered one after another at each length, so only the list in
// the making (csr, compound `next` at the current length) is held as entries;
// a finished list is appended, encoded, to the length's part of the spill
// (about 4 bytes per entry), and read back when the descriptor file is written.
// Ids in a length's lists are fragment ids, or (where the length's id_of is
// not empty) the length's own indices of its fragments, id_of[index] the
// fragment id.
struct OccurrenceStore {
  std::vector<CSR> csr;   // the list in the making
  int next = 0;           // the compound it belongs to
  int total = 0;          // compounds
  struct Length {
    bool any = false;     // some compound met a fragment (else nothing is spilled)
    bool named = false;   // id_of names descriptor ids (occurrences_name_descriptors)
    int waiting = 0;      // empty lists not written yet (before the first entry)
    // Where each block of kOccurrenceBlock compounds begins in the spill.
    std::vector<std::uint64_t> block_at;
    std::uint64_t end = 0;
    std::vector<int> id_of;
  };
  std::vector<Length> lengths;  // the lengths begun, in order
  Spill spill;
  std::vector<char> record;     // scratch: a list encoded
};

// Compounds whose lines are laid out together, and whose lists a reader finds.
inline constexpr int kOccurrenceBlock = 512;

// An empty store for `total` compounds, its spill written to file when the
// file appends (else held in memory).
void occurrences_init(OccurrenceStore& occ, int total, SpillFile file = {});
// Begins the lists of the next length, from compound 0 on.
void occurrences_begin_length(OccurrenceStore& occ);
// One more occurrence in entry `entry` of the list in the making.
inline void csr_count_one(OccurrenceStore& occ, int entry) { ++occ.csr[entry].freq; }
// n more occurrences in that entry.
inline void csr_count_add(OccurrenceStore& occ, int entry, std::uint64_t n) {
  occ.csr[entry].freq += n;
}
// After compound compid (the one in the making) at a length: its list is
// spilled and the next compound's begins.
void csr_end_length(OccurrenceStore& occ, int compid);
// Appends the lists of compounds, encoded as csr_end_length encodes them
// (`bytes`, the lists of compounds occ.next on; starts[j] the place of
// compound occ.next + j's list in them, one for each compound), as if each had
// been ended in turn. (The workers of a run encode their compounds' lists.)
void csr_append_encoded(OccurrenceStore& occ, std::string_view bytes,
                        const std::vector<std::size_t>& starts);
// Encodes the list `entries` (n of them) as csr_end_length does, to out.
void csr_encode(const CSR* entries, std::size_t n, std::vector<char>& out);
// Writes out what the spill holds, so that every byte can be read back.
void spill_flush(Spill& spill);
// Once every length is swept: each length's own indices (id_of) name
// descriptor ids through map (-1 none), so that reading a list back takes one
// look-up per entry.
void occurrences_name_descriptors(OccurrenceStore& occ, const std::vector<int>& map);

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
void count_occurrence_slow(FragmentTable& t, OccurrenceStore& occ, int live, int compid);
inline void count_occurrence(FragmentTable& t, OccurrenceStore& occ, int live, int compid) {
#ifndef SARVIK_EXPENSIVE_CHECKS
  // A fragment the compound has met already: its entry is the compound's
  // last entry for it (the rest, and every check, out of line).
  SARVIK_ASSERT(live >= 0 && live < static_cast<int>(t.live.size()) && compid == occ.next, "table");
  const FragmentTable::Live& f = t.live[static_cast<std::size_t>(live)];
  if (f.last_comp == compid) {
    SARVIK_ASSERT(f.last_entry < static_cast<int>(occ.csr.size()) && occ.csr[f.last_entry].id == f.id,
                  "table");
    csr_count_one(occ, f.last_entry);
    return;
  }
#endif
  count_occurrence_slow(t, occ, live, compid);
}
// n occurrences at once, as n calls of count_occurrence.
void count_occurrences(FragmentTable& t, OccurrenceStore& occ, int live, int compid,
                       std::uint64_t n);

// The live index of the fragment equal to canonical graph G, or -1; enters
// nothing (for self-checks).
int table_find(FragmentTable& t, const Graph& G);

// Index of the first entry j, offset <= j < size, of array with id key, or -1.
int find(const std::vector<CSR>& array, int size, int offset, int key);

// The descriptor fragments of one length as the sweep leaves them for writing:
// in descriptor order, each one's fragment id, key and form (with its width),
// which lies in `packed` or where the sweep's caller keeps it until the
// records are written.
struct FragmentRecords {
  struct Record {
    int id;
    unsigned key;
    const unsigned char* form;
    int width;
  };
  std::vector<unsigned char> packed;
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
// ---- entering on several threads ----
// Workers find a form's index in a dictionary they share; the thread that
// takes their chunks over in compound order gives each fragment its id and
// slot when it first meets it, and sweeps the length from what it gathered.

// The canonical forms of one length met by the workers of a run: each distinct
// form has an index (its shard in the low kFormShardBits bits, its place among
// the shard's forms above), whichever worker met it first. A lookup locks only
// the form's shard.
inline constexpr int kFormShardBits = 6;
struct FormDictionary {
  struct Entry {
    unsigned key;
    int width;
    std::size_t at;  // its first byte in the shard's forms
  };
  struct alignas(64) Shard {
    std::mutex m;
    std::vector<Entry> entries;
    std::vector<unsigned char> forms;
    std::vector<std::uint32_t> index;  // open addressing: entry + 1, 0 free
  };
  std::vector<Shard> shards = std::vector<Shard>(std::size_t{1} << kFormShardBits);
};
// The index of the form (at `width`, key `key`), added when new. Forms of one
// fragment are equal at its smallest width (form_width), the width workers use.
int form_index(FormDictionary& d, const unsigned char* form, int width, unsigned key);
// The form of index i, its width and key.
const unsigned char* form_at(const FormDictionary& d, int i, int* width, unsigned* key);
// Empties d for the next length (keeping its room).
void form_dictionary_clear(FormDictionary& d);

// A new fragment of the current length with key `key`: the next fragment id
// (t.count afterwards) and its slot, which is returned. Error kind table_full
// when no slot is free. Affects output: as hash_graph places a new fragment.
int table_place_fragment(FragmentTable& t, unsigned key);

// After a length whose fragments were placed with table_place_fragment: the
// table's live indices and workers' handles of the length go (generation
// changes); their sweep (sweep_fragments) may run beside the next length.
void table_next_length(FragmentTable& t);

// A fragment of a length as the sweep of fragments takes it.
struct SweptFragment {
  int slot;
  int id;
  std::int64_t count;  // compounds that met it at this length
  const unsigned char* form;
  int width;
  unsigned key;
};
// The sweep of a length's fragments placed with table_place_fragment, given in
// any order (it sorts them), `ids` fragment ids handed out by the end of the
// length: as sweep_length, the records' forms where the fragments' are. Reads
// no table, so that it may run beside the next length.
void sweep_fragments(std::vector<SweptFragment>& fragments, int ids, const SweepRule& rule,
                     int& k, std::vector<int>& map, FragmentRecords& records);

// Ends the run with the SD writer's message when `label` does not fit the SD atom
// symbol field (fragment id `id` being written).
void check_sd_atom_label(const std::string& label, int id);
// Writes the records, SD records or Mol2 molecules after `format`, with the
// labels of `labels`, laid out on `threads` threads. Reads nothing the
// enumeration changes, so that it may run beside the next length.
void write_fragment_records(const FragmentRecords& records, const LabelSet& labels, Format format,
                            int threads, const TextSink& sink,
                            const std::atomic<bool>* cancel = nullptr);

// The descriptor file for every compound of occ through map (the lists spilled
// and flushed), named by name, its lines laid out on `threads` threads.
void write_descriptor_file(const OccurrenceStore& occ, const std::vector<int>& map,
                           const std::vector<std::string>& name, int threads,
                           const TextSink& sink, const std::atomic<bool>* cancel = nullptr);
// Appends the descriptor file's line of a compound named `name` (up to its first
// NUL byte, between double quotes, each double quote doubled) with these pairs.
void append_descriptor_line(std::string_view name, std::span<const DescriptorCount> pairs,
                            std::string& text);
// Each compound's descriptors (id, count) in descriptor-file order, compound
// after compound: take(i, pairs).
void descriptor_vectors(const OccurrenceStore& occ, const std::vector<int>& map,
                        const std::function<void(int i, std::span<const DescriptorCount>)>& take,
                        const std::atomic<bool>* cancel = nullptr);

}  // namespace sarvik
