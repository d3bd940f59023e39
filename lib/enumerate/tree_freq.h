// Fragment enumeration: every connected acyclic bond set of exactly `threshold`
// bonds of one compound, each once, entered into the fragment table.
#pragma once

#include <string>
#include <vector>

#include "common/common.h"
#include "table/table.h"

// The descriptor space of an earlier run (-dspace): its fragments as labelled
// trees, grouped by length. A fragment of n bonds is held in growth form, n + 1
// entries from k (n + 1) of its length's arrays for its place k: vertex 0, then
// each vertex j >= 1 bonded to parent[j] < j by a bond labelled bond[j]; labels
// are this run's integers.
struct DescriptorSpace {
  struct Length {
    std::vector<int> id;  // per place: the descriptor id, the record's 1-based position
    std::vector<int> label, parent, bond;
  };
  std::vector<Length> by_length;  // [length]: its fragments in record order
  int size = 0;                   // records
};

// Adds record `position` (0-based) of dspace_file, titled `title` (named in
// messages), to the space. Ends the run, naming the file and the record, when the
// record is no fragment (no bond, a cycle, more than one part), has a length
// outside mint..maxt, is not of type opt, or has labels that the run's label
// options (given here: the readers read the space without them) rule out.
void descriptor_space_add(DescriptorSpace& space, int position, const Graph& record,
                          const std::string& title, int no_atm_labels, int no_bnd_labels);
// Ends the run when two records of the space are the same fragment.
void descriptor_space_check_repeats(const DescriptorSpace& space);

// What a worker thread makes of a run of compounds at the current length, for
// the thread that enters them into the table in compound order.
struct CompoundEvents {
  // One fragment a compound holds, in the order the compound first met it: the
  // worker's handle, or with a descriptor space the fragment's place in the
  // length's list; and how many times the compound holds it.
  struct Entry {
    int handle;
    std::uint64_t n;
  };
  std::vector<Entry> entries;
  std::vector<std::size_t> ends;   // per compound: the end of its entries
  // The canonical forms of the handles first given out here, handles first_handle,
  // first_handle + 1, ...: form k starts at forms[form_at[k]] with vs, es and the
  // key, then v[0..vs], vl[0..vs-1], e[0..es-1] and el[0..es-1].
  std::vector<int> forms;
  std::vector<std::size_t> form_at;
  int first_handle = 0;
  std::int64_t outside = 0;        // occurrences outside the descriptor space

  void clear() {
    entries.clear();
    ends.clear();
    forms.clear();
    form_at.clear();
    first_handle = 0;
    outside = 0;
  }
};

// Enumerates compound G at the current length on the calling thread, with that
// thread's own caches, appending its fragments to out (and one entry of
// out.ends). epoch (not 0) names the length and run: handles and cached results
// of another epoch are dropped. Reads only what the caller keeps fixed meanwhile
// (the settings, ls, space).
void enumerate_compound_events(const Graph& G, const LabelSet& ls, int opt,
                               const DescriptorSpace* space, std::uint64_t epoch,
                               CompoundEvents& out);

// Enumerates compound G at the current length and enters every fragment of type
// opt (1 all, 2 branched, 3 paths) through hash_graph under compound compid.
// Affects output: emission order decides fragment ids and list order.
//
// With a descriptor space, fragments are not entered: each bond set that is the
// same labelled tree as a fragment of the space (of the current length) counts
// one occurrence of live entry k of hashg, k being that fragment's place in
// space->by_length[threshold] (see table_begin_space_length); any other set of
// type opt counts in hashg.outside.
void find_all_spanning(const Graph& G, const LabelSet& ls, int& count,
                       FragmentTable& hashg, int opt, int compid,
                       const DescriptorSpace* space = nullptr);
