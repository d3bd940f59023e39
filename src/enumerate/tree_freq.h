// Fragment enumeration: every connected acyclic bond set of exactly `threshold`
// bonds of one compound, each once, entered into the fragment table.
#pragma once

#include "driver/generate_all_trees_freq.h"
#include "table/table.h"

// Enumerates compound G at the current length and enters every fragment of type
// opt (1 all, 2 branched, 3 paths) through hash_graph under compound compid.
// Affects output: emission order decides fragment ids and list order.
void find_all_spanning(const Graph& G, const LabelSet& ls, int& count,
                       FragmentTable& hashg, int opt, int compid);
