// Canonical labelling of fragment graphs, their hash key and their total order.
#pragma once

#include <memory>

#include "common/common.h"

namespace sarvik {

struct CanonState;

// The work area of canonical labelling: grows to the largest fragment seen and
// is reused for every fragment. One per thread (a worker's Workspace holds
// one); it serves one canonicalisation at a time.
struct CanonWork {
  CanonWork();
  ~CanonWork();
  CanonWork(CanonWork&&) noexcept;
  CanonWork& operator=(CanonWork&&) noexcept;
  std::unique_ptr<CanonState> state;
};

// Renumbers g's vertices into canonical order and rewrites vid, vl, v, e, el in
// that order, sets key. g must come from the edge-list packing (sorted,
// symmetric adjacency).
// Returns true when v, e, el, vl and key are the same for every numbering of g's
// vertices, which holds unless the individualisation search ran (parts of five
// or more equivalent vertices); callers may then let one occurrence of a
// labelled graph stand for every other. Affects output: every fragment id and
// descriptor id depends on this order.
bool cl_canonicalize_graph(Graph& g, CanonWork& work);

// The same result through the individualisation search as stated, trying every
// branch of every level even on trees, where the first branch decides. The
// reference for checks and tests; exponential in equivalent leaves.
bool cl_canonicalize_graph_unpruned(Graph& g, CanonWork& work);

// Key of a canonical graph over the bytes of e, v (vs + 1), el, vl, each int
// little-endian, bytes read as signed chars. Affects output (home slots).
unsigned graph_hash_key(const Graph& g);

}  // namespace sarvik
