// One run over a collection cut into shards, made shard by shard (by separate
// processes, on separate hosts): the outputs are those of one run over the
// file made by joining the shards in order, byte for byte.
//
// Label integers, hence keys, slots and canonical forms, are ranks in the label
// set of the whole collection, and fragment ids follow the first meeting of a
// fragment by length, compound and emission. So a run over shards S1..Sk goes
// in four steps:
//   1. shard_labels on every shard: its atom labels and compounds;
//   2. shard_fragments on every shard, under the labels of all of them: per
//      length, the shard's distinct fragments in the order the shard first met
//      them, each with its form and the compounds of the shard that hold it;
//   3. a ShardMerge given those facts in shard order: a fragment keeps its first
//      meeting and sums its compounds; finish() replays the fragment table
//      (ids, slots, the sweep of every length, "table full") and returns the
//      descriptor space, whose fragment file is the run's;
//   4. count_shard on every shard with the descriptor ids of its fragments
//      (ShardMerge::shard_ids): its part of the descriptor file, its untitled
//      compounds named by their place in the whole collection; the parts
//      joined in order are the run's descriptor file.
// A run in the descriptor space of an earlier run skips steps 2 and 3 and counts
// every shard in that space (count_shard with the space).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sarvik/sarvik.h"

namespace sarvik {

// What the first pass over a shard finds.
struct ShardLabels {
  std::vector<std::string> atom_labels;  // its distinct atom labels (after the label
                                         // options), sorted byte-wise
  int compounds = 0;
};

// The first pass over one shard: malformed input fails as a run over the shard
// alone fails. A shard must end with a whole record (SD: its last line the
// "$$$$" line, Mol2: a line end), so that joining it to the next one keeps
// both; Error kind input naming the shard otherwise.
ShardLabels shard_labels(const Settings& settings, const Source& shard,
                         const std::atomic<bool>* cancel = nullptr);

// The atom labels of the whole collection: those of every shard, sorted and
// without repeats.
std::vector<std::string> merge_labels(const std::vector<ShardLabels>& shards);

// Step 2 for one shard, under `labels` (the whole collection's): its fragment
// facts, compact bytes for ShardMerge::add. About the size of the shard's
// distinct fragments' forms.
std::string shard_fragments(const Settings& settings, const Source& shard,
                            const std::vector<std::string>& labels,
                            const std::atomic<bool>* cancel = nullptr);

// Step 3: the facts of every shard, given in shard order, and the replay of the
// run's fragment table. Holds the distinct fragments of the collection (their
// forms, keys and compound counts), nothing per compound.
class ShardMerge {
 public:
  ShardMerge(const Settings& settings, Format format, const std::vector<std::string>& labels,
             const std::string& name);
  ~ShardMerge();
  ShardMerge(const ShardMerge&) = delete;
  ShardMerge& operator=(const ShardMerge&) = delete;
  // The next shard's facts (from shard_fragments with the same settings and
  // labels). Returns where the shard's fragments stand among the collection's,
  // for shard_ids (a few bytes per fragment of the shard; the merge keeps
  // nothing of it).
  std::string add(std::string_view facts);
  // The replay, once every shard is added: the descriptor space of the run
  // (named `name`), whose write() gives its fragment file. Fails where the run
  // over the joined shards fails: Error kind table_full when the table cannot
  // hold the fragments, or an atom label that no SD record holds. summary gets
  // the fragments and descriptors.
  Space finish(Summary* summary = nullptr);
  // After finish(): the descriptor ids of a shard's fragments, given what add()
  // returned for it, as count_shard takes them.
  std::string shard_ids(std::string_view places) const;
  // Distinct fragments held so far.
  std::int64_t fragments() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Where a shard stands in the whole collection, for counting it.
struct ShardPlace {
  std::vector<std::string> labels;  // the whole collection's atom labels
  int before = 0;                   // compounds of the shards before it
};

// Step 4: the shard's part of the run's descriptor file, to sinks.descriptors:
// the shard enumerated again under the whole collection's labels, each of its
// fragments counted under the descriptor id `ids` gives it (from
// ShardMerge::shard_ids), an untitled compound named by its 1-based position in
// the whole collection. Holds the shard's distinct fragments and one compound's
// line at a time.
Summary count_shard(const Settings& settings, const Source& shard, const ShardPlace& place,
                    std::string_view ids, const Sinks& sinks);

// A run over `shard` in `space` (as run() in a held space: an earlier run's
// descriptor space), under the whole collection's labels, untitled compounds
// named as above: the shard's part of the descriptor file of that run's
// -dspace over the joined shards.
Summary count_shard(const Settings& settings, const Source& shard, const Space& space,
                    const ShardPlace& place, const Sinks& sinks);

}  // namespace sarvik
