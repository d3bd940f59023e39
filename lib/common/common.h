// The shared header of every module: the records they pass to each other, the
// run-wide settings and tables, the fatal error routine, the assertion macro and
// the naming of a run's files (defined in settings.cpp).
//
// The pipeline, module by module (src/<module>, CMake target sarvik_<module>):
//   driver     command line -> settings; creates the outputs; loads; sweeps the
//              fragment length mint..maxt (with -threads, workers enumerate chunks
//              of compounds and the main thread enters them in compound order);
//              writes the descriptor file; clean-up.
//   input      reads the SD or Mol2 file into one compound Graph per record, the
//              label set ls, the names and empty occurrence lists.
//   enumerate  per compound and length, every connected acyclic bond set once,
//              made a fragment Graph of type opt, canonicalised and entered.
//   canon      canonical vertex order of a fragment, its key and total order.
//   table      fragment table (fragment ids), occurrence lists, the sweep that
//              gives descriptor ids, the descriptor file and fragment writers.
// Dependencies: driver -> every module; enumerate -> canon, table; each module
// -> this header. Nothing else may include another module's header.
//
// Run-wide settings: who writes them, who reads them.
//   option, opt, mint, maxt, freqt, NoAtmLabels, NoBndLabels, filetype,
//   filestub, outfile, dspace_file, threads: written by the command line
//     (driver) only; threads read by the driver and the table's writers;
//     read by input (filetype, filestub, label options, dspace_file), enumerate
//     (opt, label options and filetype for a descriptor space), table
//     (freqt, filetype: which writer) and driver (the rest).
//   threshold: written by the driver's length sweep; read by enumerate, table.
//   ls, name, csr, csrcount, hashdict: written by input while loading; ls and
//     name read by enumerate and table; csr/csrcount grown by table, their
//     offset moved by the driver after each compound; hashdict read by none
//     but tests.
//   map: written by table (the sweep); read by the descriptor file writer.
//   compound_place(): written by the readers; read by error(). Per thread while
//     the input is read in parts side by side.
//   While worker threads run (one length, or the writing of records), they read
//   the settings, ls and the compounds and write only their own state; the
//   tables above are written by the main thread alone. Threads that read parts
//   of the input side by side write only their own records' entries of name.
//
// "Affects output" on a comment marks code whose order, tie-break or byte
// layout decides fragment ids, descriptor ids, keys or the bytes of an output
// file: changing it changes the outputs of every run, not only their speed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

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
  std::vector<int> vid;  // vs vertex identities (i in a compound graph)
  std::vector<int> el;   // es edge label integers, parallel to e
  std::vector<int> vl;   // vs vertex label integers
};

// A sorted table of distinct label strings. Elements are kept in byte-wise
// ascending order when filled through ptr_array_add.
struct PtrArray {
  std::vector<std::string> buf;
};

// The run's two label tables. A label's integer is its position in its table.
struct LabelSet {
  PtrArray el;  // edge (bond) labels
  PtrArray vl;  // vertex (atom) labels
};

// One entry of a compound's occurrence list.
// One compound may hold one fragment more than 2^32 times (a star of 499 leaves
// holds C(499, 4) four-bond stars), but entries stay 8 bytes: freq counts modulo
// 2^32 and each wrap is carried into csr_carry (see csr_occurrences).
struct CSR {
  int id;              // fragment id
  std::uint32_t freq;  // occurrences of that fragment in the compound, modulo 2^32
};

// Bookkeeping of one compound's occurrence list.
struct CSRcount {
  int size;    // entries in use
  int top;     // capacity
  int offset;  // first entry of the current fragment length
};

// Compiled-in limits.
inline constexpr int HASHTBL_SIZE = 6100000;
inline constexpr int CSR_LEN = 100;

// Values of opt: the fragment type.
inline constexpr int kFragmentsAll = 1;    // "QZ": every connected acyclic fragment
inline constexpr int kFragmentsTrees = 2;  // "TF": fragments that branch somewhere
inline constexpr int kFragmentsPaths = 3;  // "PF": fragments that never branch
// Values of filetype: the input format, which is also the fragment file's.
inline constexpr int kInputSd = 0;
inline constexpr int kInputMol2 = 1;

// Run-wide settings, set by the command line and by loading, read everywhere.
extern std::string option;  // "QZ", "TF" or "PF"
extern int opt;             // kFragmentsAll, kFragmentsTrees or kFragmentsPaths
extern int mint;            // smallest fragment length in bonds
extern int maxt;            // largest fragment length in bonds
extern int freqt;           // minimum number of compounds of a descriptor
extern int NoAtmLabels;     // 1: keep only the element part of atom types
extern int NoBndLabels;     // 1: every bond gets one type
extern int filetype;        // kInputSd or kInputMol2
extern std::string filestub;  // input path as given, extension included
extern std::string outfile;   // output stem
extern int threshold;         // fragment length of the current sweep step
extern std::string dspace_file;  // -dspace: the fragment file of an earlier run; empty
                                 // for a run that makes its own descriptors
extern int threads;              // enumeration threads (-threads); 1: this thread alone

// Run-wide tables.
extern std::vector<int> map;             // fragment id -> descriptor id, -1 none
extern std::vector<std::string> hashdict;  // distinct atom labels, first-seen order
extern std::vector<std::string> name;      // compound names in input order
extern std::vector<std::vector<CSR>> csr;  // occurrence list per compound
extern std::vector<CSRcount> csrcount;     // bookkeeping per compound
extern LabelSet ls;                        // the run's label set
// The wraps of CSR::freq, by compound << 32 | entry; nearly always empty.
extern std::unordered_map<std::uint64_t, std::uint64_t> csr_carry;

// One more occurrence in entry `entry` of compound compid's occurrence list.
inline void csr_count_one(int compid, int entry, CSR& e) {
  if (++e.freq == 0)
    ++csr_carry[static_cast<std::uint64_t>(compid) << 32 | static_cast<std::uint32_t>(entry)];
}
// n more occurrences in that entry.
inline void csr_count_add(int compid, int entry, CSR& e, std::uint64_t n) {
  const std::uint64_t sum = static_cast<std::uint64_t>(e.freq) + n;
  e.freq = static_cast<std::uint32_t>(sum);
  if (sum >> 32)
    csr_carry[static_cast<std::uint64_t>(compid) << 32 | static_cast<std::uint32_t>(entry)] += sum >> 32;
}
// The occurrences of entry `entry` of compound compid's occurrence list.
std::uint64_t csr_occurrences(int compid, int entry);

// The compound being read, named in fatal messages about it. The readers make it
// active while they parse or build a compound and inactive after it.
struct CompoundPlace {
  bool active = false;
  int position = 0;    // 1-based, in input order
  std::string name;    // as the descriptor file names it
  long long line = 0;  // input line of the problem; 0 when no one line is to blame
};
// The calling thread's compound place: the run's, or on a thread that reads a
// part of the input beside others, that thread's own while an OwnCompoundPlace
// lives on it.
CompoundPlace& compound_place();
struct OwnCompoundPlace {
  CompoundPlace place;
  OwnCompoundPlace();
  ~OwnCompoundPlace();
  OwnCompoundPlace(const OwnCompoundPlace&) = delete;
  OwnCompoundPlace& operator=(const OwnCompoundPlace&) = delete;
};

// Puts every run-wide setting and table back to its compiled-in default.
void reset_run_settings();

// Prints str unchanged on standard output and ends the process with status 1.
// While compound_place() is active the message is followed by the line
// "  in compound <position> '<name>' at line <line> of '<input file>'" (without
// "at line <line>" when the line is 0).
[[noreturn]] void error(const std::string& str);
// Set on the threads that work beside the main one (enumeration workers, the
// background writers): there error() throws DeferredFatalError with its message
// instead, and running out of memory throws std::bad_alloc, so that the main
// thread ends the run, after stopping them, where a one-thread run would.
extern thread_local bool fatal_errors_deferred;
// Set by the run while threads work beside the main one: stops and joins them
// before error() ends the process.
extern void (*stop_other_threads)();
struct DeferredFatalError {
  std::string message;
};
// What a thread beside the main one ended with, for the thread that waits for it
// to end the run with.
struct ThreadFailure {
  bool failed = false;
  bool out_of_memory = false;
  std::string message;
  CompoundPlace place;  // the failing thread's, which the message ends with

  // Runs f (on a thread with fatal_errors_deferred set), keeping what a fatal
  // error in it said; false when there was one.
  template <class F>
  bool run(F&& f) {
    try {
      f();
      return true;
    } catch (const DeferredFatalError& e) {
      failed = true;
      message = e.message;
      place = compound_place();
    } catch (const std::bad_alloc&) {
      failed = true;
      out_of_memory = true;
    }
    return false;
  }
  // Ends the run as the failing thread would have, from a thread that does not
  // defer (or, deferring, hands it on).
  [[noreturn]] void end_run() const;
};
// Ends the run when a thread could not be started (what: the std::system_error's
// text).
[[noreturn]] void thread_start_failed(const char* what);
#ifdef SARVIK_FUZZ
// In the fuzzing build error() throws this instead of ending the process.
struct FatalError {};
#endif

// Internal invariant check, never compiled out: prints the expression and the
// module, then aborts. Input data must never be able to reach one.
[[noreturn]] void assert_fail(const char* expr, const char* module, int line);
#define SARVIK_ASSERT(expr, module) \
  ((expr) ? (void)0 : assert_fail(#expr, module, __LINE__))

// Run files. Names are the stem or input name followed by a fixed suffix.
std::string rules_file_name();   // outfile + "_frag.sdf", or "_frag.mol2" for Mol2 input
std::string output_file_name();  // outfile + ".out"
