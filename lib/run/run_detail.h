// The run object and the pieces of a run that tests reach.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/common.h"
#include "enumerate/tree_freq.h"
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

// What a Space holds: the descriptor fragments in descriptor order, as forms of
// the table's form codec (all at records.width) over the label set ls, each
// record's id being its title.
struct SpaceData {
  Format format = Format::sd;
  LabelSet ls;
  FragmentRecords records;
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
  const Sinks* sinks = nullptr;
  // A run over one shard of a collection (count_shard): the collection's atom
  // labels, which the run's label set holds beside its own, and the compounds
  // before the shard, which untitled compounds' names count.
  std::vector<std::string> more_labels;
  int first_position = 0;

  // Tables.
  std::vector<Graph> G;            // the compounds, in input order
  std::vector<std::string> name;   // their names
  LabelSet ls;                     // the run's label set
  OccurrenceStore occ;             // csr, csrcount and the carry table
  std::vector<int> map;            // fragment id -> descriptor id, -1 none
  FragmentTable hashg;             // fragment ids (hashg.count), slots, live fragments
  DescriptorSpace space;           // with a descriptor space
  bool in_space = false;
  int threshold = 0;               // fragment length of the current sweep step
  int k = 0;                       // descriptor ids handed out (in a space: met)
  std::string held;                // progress lines waiting for the records in writing
  std::shared_ptr<SpaceData> made;  // the space in the making, for Sinks::space

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
// r.chunk first); in the descriptor space of the fragment file `space` or of
// the space `held`, when given (not both).
Summary run_with(Run& r, const Settings& settings, const Source& input, const Source* space,
                 const Sinks& sinks, const Space* held = nullptr);

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
// Waits for the records in writing; rethrows what their writing ended with,
// else says the progress lines held back meanwhile.
void finish_background_records(Run& r);

// Makes a worker's hand-over of one compound's fragments (events of compound j
// of a chunk) entries of compound i: new handles are entered by their forms,
// known ones counted. live maps the worker's handles to live indices.
void enter_compound_events(Run& r, const CompoundEvents& ev, std::size_t j, int i,
                           std::vector<int>& live);

}  // namespace sarvik
