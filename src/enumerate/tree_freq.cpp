// Enumeration entry: every connected acyclic bond set of the current length of one
// compound, materialised, filtered by type, canonicalised and entered into the table.
#include "enumerate/tree_freq.h"

#include "canon/cl_freq.h"
#include "enumerate/enumerate_detail.h"

namespace {

// Module scratch, grown to the largest compound and fragment seen; released only by
// enumerate_free_work_area. Makes find_all_spanning non-re-entrant.
EnumWork enum_work;
FragWork frag_work;
Graph frag_graph;

}  // namespace

void find_all_spanning(const Graph& G, const LabelSet& ls, int& count,
                       FragmentTable& hashg, int opt, int compid) {
  (void)ls;  // labels stay integers until the writers
  enumerate_bond_sets(G, threshold, enum_work, [&](const Edge* s, int n) {
    create_graph_from_set(s, n, G, frag_work, frag_graph);
    if (!fragment_passes(frag_graph, opt)) return;
    cl_canonicalize_graph(frag_graph);
    hash_graph(frag_graph, count, hashg, compid);
  });
}

void enumerate_free_work_area() {
  enum_work = EnumWork{};
  frag_work = FragWork{};
  frag_graph = Graph{};
}
