// Canonical labelling of fragment graphs, their hash key and their total order.
// The module keeps a private work area that grows to the largest fragment seen,
// so it is not re-entrant.
#pragma once

#include "common/common.h"

// Renumbers g's vertices into canonical order and rewrites vid, vl, v, e, el in
// that order, sets key. g must come from the edge-list packing (sorted,
// symmetric adjacency). Uses the module work area.
// Returns true when v, e, el, vl and key are the same for every numbering of g's
// vertices, which holds unless the individualisation search ran (parts of five
// or more equivalent vertices); callers may then let one occurrence of a
// labelled graph stand for every other. Affects output: every fragment id and
// descriptor id depends on this order.
bool cl_canonicalize_graph(Graph& g);

// The same result through the individualisation search as stated, trying every
// branch of every level even on trees, where the first branch decides. The
// reference for checks and tests; exponential in equivalent leaves.
bool cl_canonicalize_graph_unpruned(Graph& g);

// Releases the work area; the next canonicalisation lays it out anew.
void cl_free_work_area();

// Key of a canonical graph over the bytes of e, v (vs + 1), el, vl, each int
// little-endian, bytes read as signed chars. Affects output (home slots).
unsigned graph_hash_key(const Graph& g);
