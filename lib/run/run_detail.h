// The run object and the pieces of a run that tests reach.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/common.h"
#include "enumerate/tree_freq.h"
#include "input/input.h"
#include "table/table.h"

namespace sarvik {

struct Pool;

// The background sweep and writer of a run on several threads: after a length,
// a thread of its own sweeps it (descriptor ids, records) and lays out its
// records and hands them to the fragment sink, while the next length runs. The
// length's progress line waits for its sweep (a sweep that fails ends the run
// before anything after its length, as on one thread).
struct RecordWriter {
  std::thread thread;
  FragmentRecords records;
  std::exception_ptr failure;  // what the last writing ended with
  std::mutex m;
  std::condition_variable swept_cv;
  bool swept = true;           // the length's sweep is over (guarded by m)
  bool reported = true;        // its progress line is printed
  std::exception_ptr sweep_failure;  // what its sweep ended with
  int length = 0;              // the length
  int ids = 0;                 // fragment ids handed out by its end
  RecordWriter() = default;
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;
  ~RecordWriter();  // waits for the writing
};

// A file for a run's own data, created exclusively beside `stem` as
// "<stem>.tmp" and 12 random hexadecimal digits (the outputs' temporaries'
// pattern) and removed at once: it has no name while the run writes and reads
// it, so nothing of it is left however the run ends (on Windows it goes when
// closed). Failures are Error kind output naming the stem.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& stem);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  // Appends bytes at the end.
  void append(std::string_view bytes);
  // Reads back n bytes from place `at` (any thread, once appending is over).
  void read(std::uint64_t at, char* dst, std::size_t n) const;

 private:
  std::string stem_;
  std::intptr_t handle_;
};

// What a Space holds: the descriptor fragments in descriptor order, as forms of
// the table's form codec (all at records.width) over the label set ls, each
// record's id being its title.
struct SpaceData {
  struct Record {
    int id;
    unsigned key;
    int at;  // its form's place in packed, in elements of `width` bytes
  };
  struct Records {
    std::vector<unsigned char> packed;
    int width = 1;
    std::vector<Record> records;
  };
  Format format = Format::sd;
  LabelSet ls;
  Records records;
  std::string name;
};

// Appends a length's descriptor records (as the sweep leaves them) to a space
// in the making, widening its forms when the length's are wider.
void space_append(SpaceData& space, const FragmentRecords& records);
// Adds every record of a space held in memory to the descriptor space of a run
// whose label set ls holds the space's labels, as descriptor_space_add does
// for the records of a fragment file.
void space_into_run(const SpaceData& space, const SpaceRule& rule, const LabelSet& ls,
                    DescriptorSpace& into, const std::atomic<bool>* cancel);

// Everything one run needs, owned for the run's life. Workers and the record
// writer are declared last, so that they stop before what they read goes.
struct Run {
  // Settings: as given, and what the run derives from them.
  Settings settings;
  int opt = kFragmentsAll;  // fragment type code of settings.option
  Format filetype = Format::sd;
  int threads = 1;          // settings.threads, 0 resolved
  int chunk = 0;            // compounds per worker chunk; 0: chosen by collection size
  int stride = 16;          // the first pass notes every stride-th record's start
  const Sinks* sinks = nullptr;
  // A run over one shard of a collection (count_shard): the collection's atom
  // labels, which the run's label set holds beside its own, and the compounds
  // before the shard, which untitled compounds' names count.
  std::vector<std::string> more_labels;
  int first_position = 0;

  // Tables.
  LoadRequest request;             // how the input is read
  std::string space_name;          // the descriptor space's, as messages name it
  Loaded input;                    // what its first pass found (G and name are moved out)
  std::vector<Graph> G;            // the compounds, in input order
  std::vector<std::string> name;   // their names
  LabelSet ls;                     // the run's label set
  std::unique_ptr<ScratchFile> scratch;  // where occ spills, beside the outputs
  OccurrenceStore occ;             // the occurrence lists, spilled length by length
  std::vector<int> map;            // fragment id -> descriptor id, -1 none
  FragmentTable hashg;             // fragment ids (hashg.count), slots, live fragments
  DescriptorSpace space;           // with a descriptor space
  bool in_space = false;
  int threshold = 0;               // fragment length of the current sweep step
  int k = 0;                       // descriptor ids handed out (in a space: met)
  std::string held;                // progress lines waiting for the records in writing
  std::shared_ptr<SpaceData> made;  // the space in the making, for Sinks::space

  // Threads. The record writer reads the pool's forms: it stops first.
  Workspace ws;                    // the calling thread's caches
  std::unique_ptr<Pool> pool;      // the workers of a run on several threads
  RecordWriter writer;

  Run();
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;
};

// Settings out of range (Error kind usage, the message naming the setting):
// refused before anything is read, by a run (in a descriptor space when
// in_space) and by the steps of a run over shards.
void check_settings(const Settings& s, bool in_space);

// The whole run of sarvik::run, on a run object made for it (tests set
// r.chunk and r.stride first); in the descriptor space of the fragment file
// `space` or of the space `held`, when given (not both).
Summary run_with(Run& r, const Settings& settings, const Source& input, const Source* space,
                 const Sinks& sinks, const Space* held = nullptr);

// The run in a descriptor space (r loaded, the space's records in r.space):
// the input is read again in chunks of compounds, each compound counted at every
// length and its line handed over in input order, on r.threads threads; then
// the progress lines of the lengths. Nothing of a compound is kept once its
// line is out.
Summary count_in_space(Run& r);

// One length of the sweep on r.threads worker threads: every compound of r.G is
// enumerated, the fragments new to r.hashg get their ids and slots in compound
// order and each compound's list goes to r.occ, exactly as one thread calling
// find_all_spanning compound after compound would leave them; the counts and
// forms for the sweep (sweep_in_background) stay with the workers. Progress
// follows each chunk merged. At most a few chunks of compounds per thread are
// in flight. A failure in a worker ends the length with it, once the compounds
// before the failing one are entered.
void enumerate_length_in_parallel(Run& r, const LengthContext& cx);
// After a length on several threads: its sweep (as sweep_length) and its
// fragment records handed to the fragment sink by the record writer while the
// run goes on; waits first for the length before to be swept and written (and
// its progress line printed). After the last length's records (last) the
// writer says the fragment file is complete.
void sweep_in_background(Run& r, bool last);
// Says the progress lines of the length in the background sweep once it is
// swept ("total upto this threshold ..." and the next length's "threshold =
// ..."), waiting for it when `wait`; rethrows what the sweep ended with. The
// lines wait in r.held while the length's records are in writing: a failure
// of that writing ends the run where one thread would have ended it, before
// them.
void report_sweep(Run& r, bool wait);
// Waits for the records in writing; rethrows what their writing ended with,
// else says the progress lines held back meanwhile.
void finish_background_records(Run& r);

// The work of a run on several threads is handed out in chunks (of compounds):
// task(c, slot, worker, ws) makes chunk c on a worker, into the caller's slot
// `slot` of chunk_window(r) slots, with the worker's Workspace; merge(c, slot,
// worker, failure) takes it over on the calling thread, in chunk order, with
// what the task ended with.
using ChunkTask = std::function<void(int c, int slot, int worker, Workspace& ws)>;
using ChunkMerge =
    std::function<void(int c, int slot, int worker, const std::exception_ptr& failure)>;
int chunk_window(const Run& r);
// Runs task for chunks 0 .. chunks - 1 on r's workers (started at the first
// call, kept for the run), at most chunk_window(r) chunks ahead of the
// merging, and merge on this thread in chunk order. A chunk's failure is
// rethrown after its merge; once merging ends early (a failure, or merge
// throws), no worker takes another chunk and the tasks running are waited
// for, so the caller's slots may go.
void run_chunks(Run& r, int chunks, const ChunkTask& task, const ChunkMerge& merge);

}  // namespace sarvik
