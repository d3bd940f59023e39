// The run object and the pieces of a run that tests reach.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/common.h"
#include "enumerate/tree_freq.h"
#include "input/input.h"
#include "table/table.h"

namespace sarvik {

struct Pool;

// The background writer of fragment records: the records of one length are laid
// out and handed to the fragment sink by a thread of their own while the next
// length runs.
struct RecordWriter {
  std::thread thread;
  FragmentRecords records;
  std::exception_ptr failure;  // what the last writing ended with
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

  // Tables.
  LoadRequest request;             // how the input is read
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

  // Threads.
  Workspace ws;                    // the calling thread's caches
  RecordWriter writer;
  std::unique_ptr<Pool> pool;      // the workers of a run on several threads

  Run();
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;
};

// The whole run of sarvik::run, on a run object made for it (tests set
// r.chunk first).
Summary run_with(Run& r, const Settings& settings, const Source& input, const Source* space,
                 const Sinks& sinks);

// The run in a descriptor space (r loaded, the space's records in r.space):
// the input is read again in chunks of compounds, each compound counted at every
// length and its line handed over in input order, on r.threads threads; then
// the progress lines of the lengths. Nothing of a compound is kept once its
// line is out.
Summary count_in_space(Run& r);

// One length of the sweep on r.threads worker threads: every compound of r.G is
// enumerated and its fragments entered into r.hashg (or counted in r.space) in
// compound order, with occurrence offsets moved on, exactly as one thread calling
// find_all_spanning compound after compound. Progress follows each compound
// entered. At most a few chunks of compounds per thread are in flight. A
// failure in a worker ends the length with it, once the compounds before the
// failing one are entered.
void enumerate_length_in_parallel(Run& r, const LengthContext& cx);
// The sweep after a length (see sweep_length), its fragment records handed to
// the fragment sink by the record writer while the run goes on; waits first for
// the records of the length before. After the last length's records (last) the
// writer says the fragment file is complete.
void write_records_in_background(Run& r, bool last);
// Waits for the records in writing; rethrows what their writing ended with.
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

// Makes a worker's hand-over of one compound's fragments (events of compound j
// of a chunk) entries of compound i: new handles are entered by their forms,
// known ones counted. live maps the worker's handles to live indices.
void enter_compound_events(Run& r, const CompoundEvents& ev, std::size_t j, int i,
                           std::vector<int>& live);

}  // namespace sarvik
