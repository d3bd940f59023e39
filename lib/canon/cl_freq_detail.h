// Internals of canonical labelling that the unit tests reach: the dense matrix
// form of a fragment, its vertex order and partition, refinement and the two
// searches. Nothing outside src/canon and the tests includes this header.
#pragma once

#include <vector>

#include "canon/cl_freq.h"

namespace sarvik {

// One entry of a vertex's neighbour list.
struct Neighbor {
  int e;  // edge label index + 1, as in the matrix
  int v;  // vertex index of the neighbour, in the same AdjMat
};

// One vertex of an AdjMat.
struct Vertex {
  int id;     // vid of the graph vertex it was filled from
  int d;      // degree
  int l;      // vertex label index
  int rank;   // its own vertex index; set at layout, never changed
  int part;   // index of the part holding it
  int npart;  // part index given by the current refinement pass
  int n;      // first entry of its neighbour list in AdjMat::nbr (d entries used)
};

// Dense form of a graph: matrix of edge values (0 none, label + 1 otherwise),
// vertex records, the ordered partition and the current order. Three index spaces:
// vertex index (place in v), position (p[position] is a vertex index, q inverts
// p) and part (positions part[k] .. part[k+1]-1, numbered in position order).
// Arrays are laid out once for `cap` vertices and used for any vs <= cap.
struct AdjMat {
  int cap = 0;     // vertex count the arrays were laid out for
  int vs = 0;      // vertices in use
  int stride = 0;  // row r of the matrix starts at buf[r * stride]
  std::vector<Vertex> v;         // cap records
  std::vector<int> sorted_v;     // vertex indices in the working order of the sort
  std::vector<int> buf;          // cap * cap matrix entries
  std::vector<int> part;         // cap + 1 part starts; part[parts] = vs
  int parts = 0;
  std::vector<int> npart;        // cap + 1 part starts built by a refinement pass
  int nparts = 0;
  std::vector<int> o;            // starting order of the exhaustive search
  std::vector<int> p;            // vertex index at each position
  std::vector<int> q;            // position of each vertex index
  std::vector<Neighbor> nbr;     // cap * cap; vertex i's list starts at i * cap, in graph order
  // Beside nbr: each list's (e, neighbour part) keys, e in the high half, sorted
  // by the last sort; valid for the vertices that shared their part with another.
  std::vector<long long> nkey;
};

// Matrix entry of vertex indices a and b.
inline int adj(const AdjMat& m, int a, int b) { return m.buf[a * m.stride + b]; }

// Lays m out for vs vertices: ranks, p = q = identity, sorted_v in vertex-index
// order, rows at stride vs, neighbour lists at stride vs, one part. Leaves the
// matrix, o, npart and the other vertex fields unset (zero).
void cl_setup_adjmat(AdjMat& m, int vs);
AdjMat cl_alloc_adjmat(int vs);

// p and q only.
void copy_adjmat_perm(const AdjMat& src, AdjMat& dst);
// Every vertex's part and part[0..vs]; not the count parts.
void copy_adjmat_partitioning(const AdjMat& src, AdjMat& dst);

// Writes m back into g in the order p: vl, vid, v, e, el. Stops with an
// assertion when the matrix does not hold g.es entries.
void cl_adjmat_to_graph(const AdjMat& m, Graph& g);

// Sorts each vertex's neighbour keys (e, neighbour part) into nkey, then
// sorted_v by the vertex order (part ascending, degree descending, label
// ascending, then the sorted keys) starting from its current order, then sets p and
// q from it. The vertex sort is a selection sort that replaces a candidate only
// by a strictly smaller entry. Affects output: the order of equal vertices is
// the search's start. When sorted_v is already in part order, only the keys of
// vertices sharing their part with another are sorted (no comparison reaches
// the others' keys).
void sort_adjmat_vertices(AdjMat& m);
// Exhaustive search over every order of the parts from `part` on. best holds
// an order of m's own matrix: the searches copy m's order, partition and vertex
// records into best and back, never the matrix or the neighbour lists (no step
// of a search changes them), and read best's rows from m's matrix.
void get_min_adjmat(AdjMat& m, int part, AdjMat& best);
// Steps the order of one part; 1 while orders remain, 0 when back at o.
int perm_next_adjmat(AdjMat& m, int part);
// What canonical labelling keeps from fragment to fragment (see CanonWork).
struct CanonState {
  int size = 0;  // vertices m and min are laid out for; 0: not laid out
  AdjMat m;      // the matrix being searched
  AdjMat min;    // the best order found so far
  // Saved state of the individualisation search: the vs vertex parts of each
  // level, taken as a stack so that no level allocates once the stack has grown.
  std::vector<int> saved;
  std::size_t saved_top = 0;
  bool best_has_leaf = false;      // best holds a leaf of the individualisation search
  bool first_branch_only = false;  // the search may stop after each level's first branch
                                   // (trees only, never for the unpruned reference)
  bool prune_allowed = true;       // cleared by cl_canonicalize_graph_unpruned
  // Scratch of the tree test: a stack of vertex indices and a seen mark per vertex.
  std::vector<int> tree_stack;
  std::vector<unsigned char> tree_seen;
};

// Individualisation search in `part`; p_part is the part individualised in by
// the level above. Saved state comes from w's grow-only stack.
void get_min_adjmat_by_stabilizer(CanonState& w, AdjMat& m, int part, int p_part, AdjMat& best);
// Individualise vertex `rank` (saving every vertex's part into vp) and undo it
// (parts from vp, order recomputed by the sort).
void fix_vertex(AdjMat& m, int rank, int* vp);
void release_vertex(AdjMat& m, const int* vp);

// Next lexicographic permutation of a[0..n-1]; 0 (a unchanged) when descending.
int next_perm(int* a, int n);

// Total order of canonical graphs: es, vs, wrapped key difference (as +-1), then
// v/vl pairs, then e/el pairs. 0 means the same fragment; vid is ignored. The
// table compares packed forms instead (the same equality); tests compare graphs.
int graph_compare(const Graph& a, const Graph& b);

}  // namespace sarvik
