// The records every module of the library passes on, error(), the assertion
// macro, the bond types and the open-addressing probe the hash tables share.
//
// The library, module by module (lib/<module>, CMake target sarvik_<module>);
// its public interface is include/sarvik/sarvik.h, implemented by the run:
//   run        the run object (run_detail.h): settings, label set, names,
//              occurrence store, map, fragment table, compounds, workers; the
//              length sweep mint..maxt; the workers (chunks of compounds), the
//              sweep and record writer beside the next length
//              (parallel_length.cpp); a run in a descriptor space, streamed
//              compound by compound (space_stream.cpp); the two-file commit
//              and scratch files (output_pair.cpp); descriptor spaces held in
//              memory (space.cpp); sarvik::run().
//   input      reads an SD or Mol2 source, as a stream of windows in each of
//              two passes, into one compound Graph per record, the label set
//              ls and the names (load.cpp; the windows and byte sums in
//              line_reader.cpp; the formats in sdf_reader.cpp and
//              mol2_reader.cpp).
//   enumerate  per compound and length, every connected acyclic bond set once,
//              made a fragment Graph of type opt, canonicalised and entered;
//              a per-worker Workspace holds every cache of it (tree_freq.h).
//   canon      canonical vertex order of a fragment, its key and total order;
//              its work area (CanonWork) lives in the worker's Workspace.
//   table      fragment table (fragment ids), the forms workers share,
//              occurrence lists (spilled length by length), the sweep that
//              gives descriptor ids, the form codec, the descriptor file and
//              the fragment writers.
// Dependencies: run -> every module; enumerate -> canon, table; each module ->
// this header. Nothing else may include another module's header. The
// command-line client (cli/) calls the public interface and owns everything
// that belongs to a process: signals, standard output, the terminal line; the
// Python package's extension (python/src/binding.cpp) is another client.
//
// Where to change what:
//   the fragment key hash: canon (graph_hash_key, cl_freq.cpp);
//   Mol2 atom types and bond types: mol2_reader.cpp (types read), kBondTypes
//     below (labels, SD and Mol2 codes), writers.cpp (the records written);
//   how threads are handed work: run/parallel_length.cpp (run_chunks: chunks
//     of compounds, per length or, in a space, per run; the background sweep
//     and record writer), input's run_side_by_side (parts of the input),
//     table's write_in_order (blocks of output text);
//   a new output format: a writer beside append_sdf_record in table/writers.cpp
//     and a sink of include/sarvik/sarvik.h.
//
// State: nothing here or in any module is global. A run's state is its Run
// object; a thread's caches are its Workspace; functions take what they read
// and write as parameters.
//
// "Affects output" on a comment marks code whose order, tie-break or byte
// layout decides fragment ids, descriptor ids, keys or the bytes of an output
// file: changing it changes the outputs of every run, not only their speed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sarvik/sarvik.h"

namespace sarvik {

// A compound or fragment graph: compressed adjacency lists holding every bond in
// both directions. The entries of vertex i are positions v[i] .. v[i+1]-1 of e and
// el, sorted by ascending neighbour index (the edge-list packing guarantees it);
// v[0] = 0 and v[vs] = es. vl and el hold label integers: the 0-based rank of the
// label string in the run's label set.
struct Graph {
  int es = 0;        // adjacency entries: twice the number of bonds
  int vs = 0;        // vertices
  unsigned key = 0;  // hash key of the canonical form (fragments only)
  std::vector<int> e;    // es neighbour indices
  std::vector<int> v;    // vs + 1 offsets
  std::vector<int> vid;  // vs vertex identities (i in a compound graph; a
                         // compound kept for a run holds none, its identity)
  std::vector<int> el;   // es edge label integers, parallel to e
  std::vector<int> vl;   // vs vertex label integers
  std::vector<int> eb;   // compounds read with bond numbers only: es input bond
                         // numbers (0-based), parallel to e
};

// A sorted table of distinct label strings, in byte-wise ascending order.
struct PtrArray {
  std::vector<std::string> buf;
};

// The run's two label tables. A label's integer is its position in its table.
struct LabelSet {
  PtrArray el;  // edge (bond) labels
  PtrArray vl;  // vertex (atom) labels
};

// One entry of a compound's occurrence list at one length: a fragment and how
// many times the compound holds it (one compound may hold one fragment more
// than 2^32 times: a star of 499 leaves holds C(499, 4) four-bond stars).
struct CSR {
  int id;              // fragment id (or the length's own index of it, see OccurrenceStore)
  std::uint64_t freq;  // occurrences of that fragment in the compound
};

// Compiled-in limits.
inline constexpr int HASHTBL_SIZE = 6100000;
inline constexpr int CSR_LEN = 100;  // first room of the list in the making

// Values of opt: the fragment type.
inline constexpr int kFragmentsAll = 1;    // "QZ": every connected acyclic fragment
inline constexpr int kFragmentsTrees = 2;  // "TF": fragments that branch somewhere
inline constexpr int kFragmentsPaths = 3;  // "PF": fragments that never branch

// The bond types: the edge label a bond gets, its SD bond type and its Mol2 bond
// type. SD input knows the first four, Mol2 input all five; -NoBndLabels gives
// every bond the first. Affects output: label integers are the labels' ranks in
// byte order ("#" < "*" < "-" < "=" < "~"), and the writers write these codes.
struct BondType {
  const char* label;
  int sd;            // SD bond type (0: none)
  const char* mol2;  // Mol2 bond type
};
inline constexpr BondType kBondTypes[] = {
    {"-", 1, "1"}, {"=", 2, "2"}, {"#", 3, "3"}, {"~", 4, "ar"}, {"*", 0, "am"}};
inline constexpr int kSdBondTypes = 4;  // the first four: SD types 1 to 4
// The bond type of an edge label; null for a label that is none.
const BondType* bond_type_of_label(std::string_view label);

// Text taken from the input as messages quote it: every byte below 0x20 but
// tab, and 0x7F, shown as "\xNN"; cut after about 200 bytes (at a character's
// start) with "..." behind. File names are shown with cut = false.
std::string shown(std::string_view text, bool cut = true);

// Throws Error kind input with message str (ending in '\n'), about no compound.
[[noreturn]] void error(const std::string& str);
// Throws Error of `kind` with message str.
[[noreturn]] void error(ErrorKind kind, const std::string& str);

// Internal invariant check, never compiled out: prints the expression and the
// module on standard error, then aborts. Input data must never be able to reach
// one.
[[noreturn]] void assert_fail(const char* expr, const char* module, int line);
#define SARVIK_ASSERT(expr, module) \
  ((expr) ? (void)0 : ::sarvik::assert_fail(#expr, module, __LINE__))

// Throws Error kind cancelled when the flag is set.
inline void check_cancel(const std::atomic<bool>* cancel) {
  if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
    error(ErrorKind::cancelled, "the run was stopped\n");
}

// ---- open addressing ----
// The hash tables of the library (growth index, tree classes, the index of live
// fragments) have 2^k slots, find a key's home by Fibonacci hashing and probe
// linearly from there with wrap-around.

// The home slot of a 64-bit hash in a table of 2^(64 - shift) slots.
inline std::size_t fibonacci_home(std::uint64_t hash, int shift) {
  return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> shift);
}
// The first slot from `home` on (wrapping with mask, a table size - 1) at which
// stop(slot) holds; the table must hold a slot where it does.
template <class Stop>
inline std::size_t probe_from(std::size_t home, std::size_t mask, Stop&& stop) {
  std::size_t h = home;
  while (!stop(h)) h = (h + 1) & mask;
  return h;
}

}  // namespace sarvik
