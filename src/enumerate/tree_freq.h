// Fragment enumeration: every connected acyclic bond set of exactly `threshold`
// bonds of one compound, each once, entered into the fragment table.
#pragma once

#include <string>
#include <vector>

#include "driver/generate_all_trees_freq.h"
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
