// Canonical labelling: partition refinement on a dense matrix, then a search
// inside the remaining parts; the fragment key and the total order of fragments.
#include "canon/cl_freq.h"

#include <algorithm>
#include <memory>

#include "canon/cl_freq_detail.h"

namespace sarvik {

namespace {

constexpr const char* kModule = "cl_freq";

// Invariant check that prints the fixed text of the check rather than the C++
// spelling of the expression.
#define CL_ASSERT(expr, text) ((expr) ? (void)0 : assert_fail(text, kModule, __LINE__))

// Parts of this size or more are searched by individualisation instead of by
// trying every order. Affects output.
constexpr int Canonical_Labeling_Stabilizer_Threshold = 5;

// Ensures room in w's saved state for one more level of vs vertices and
// returns its offset.
std::size_t push_saved_state(CanonState& w, int vs) {
  std::size_t base = w.saved_top;
  w.saved_top += static_cast<std::size_t>(vs);
  if (w.saved.size() < w.saved_top) w.saved.resize(w.saved_top);
  return base;
}

}  // namespace

void cl_setup_adjmat(AdjMat& m, int vs) {
  m.cap = vs;
  m.vs = vs;
  m.stride = vs;
  const std::size_t n = static_cast<std::size_t>(vs);
  m.v.assign(n, Vertex{});
  m.sorted_v.assign(n, 0);
  m.buf.assign(n * n, 0);
  m.part.assign(n + 1, 0);
  m.npart.assign(n + 1, 0);
  m.o.assign(n, 0);
  m.p.assign(n, 0);
  m.q.assign(n, 0);
  m.nbr.assign(n * n, Neighbor{0, 0});
  m.nkey.assign(n * n, 0);
  for (int i = 0; i < vs; ++i) {
    m.v[i].rank = i;
    m.v[i].n = i * vs;
    m.p[i] = m.q[i] = i;
    m.sorted_v[i] = i;
  }
  m.parts = 1;
  m.nparts = 0;
  m.part[0] = 0;
  m.part[1] = vs;
}

AdjMat cl_alloc_adjmat(int vs) {
  AdjMat m;
  cl_setup_adjmat(m, vs);
  return m;
}

namespace {

// Everything of src but the matrix and the neighbour lists, into dst: the
// copies of the search, where both matrices hold one fragment's matrix and
// neighbour lists, which no step of a search changes.
void copy_order_state(const AdjMat& src, AdjMat& dst) {
  CL_ASSERT(dst.vs == src.vs, "dst->vs == src->vs");
  const int vs = src.vs;
  dst.parts = src.parts;
  dst.nparts = src.nparts;
  for (int i = 0; i < vs; ++i) {
    const Vertex& s = src.v[i];
    Vertex& d = dst.v[i];
    d.id = s.id;
    d.d = s.d;
    d.l = s.l;
    d.rank = s.rank;
    d.part = s.part;
    d.npart = s.npart;
  }
  // Records are matched by rank, so dst's sorted_v names dst's own records.
  for (int i = 0; i < vs; ++i) dst.sorted_v[i] = src.v[src.sorted_v[i]].rank;
  std::copy_n(src.o.begin(), vs, dst.o.begin());
  std::copy_n(src.p.begin(), vs, dst.p.begin());
  std::copy_n(src.q.begin(), vs, dst.q.begin());
  std::copy_n(src.part.begin(), vs + 1, dst.part.begin());
  std::copy_n(src.npart.begin(), vs + 1, dst.npart.begin());
}

}  // namespace

void copy_adjmat_perm(const AdjMat& src, AdjMat& dst) {
  CL_ASSERT(src.vs == dst.vs, "src_vs == dst_vs");
  std::copy_n(src.p.begin(), src.vs, dst.p.begin());
  std::copy_n(src.q.begin(), src.vs, dst.q.begin());
}

void copy_adjmat_partitioning(const AdjMat& src, AdjMat& dst) {
  CL_ASSERT(src.vs == dst.vs, "src_vs == dst_vs");
  for (int i = 0; i < src.vs; ++i) dst.v[i].part = src.v[i].part;
  std::copy_n(src.part.begin(), src.vs + 1, dst.part.begin());
}

namespace {

// The vertex records of m from g (vertex index = graph index) and the neighbour
// lists in g's order, as cl_graph_to_adjmat leaves them, without the matrix.
// Returns whether every list names strictly ascending neighbours other than the
// vertex itself with edge values other than 0: then each matrix row holds
// exactly the entries of its vertex's list, which lets the matrix wait until a
// search needs it and lets the graph be written back from the lists.
bool fill_vertices(const Graph& g, AdjMat& m) {
  bool simple = true;
  for (int i = 0; i < g.vs; ++i) {
    Vertex& x = m.v[i];
    x.id = g.vid[i];
    x.d = g.v[i + 1] - g.v[i];
    x.l = g.vl[i];
    x.part = 0;
    Neighbor* list = m.nbr.data() + x.n;
    int last = -1;
    for (int k = g.v[i]; k < g.v[i + 1]; ++k) {
      const Neighbor nb{g.el[k] + 1, g.e[k]};
      simple = simple && nb.v > last && nb.v != i && nb.e != 0;
      last = nb.v;
      list[k - g.v[i]] = nb;
    }
  }
  return simple;
}

// The matrix from the neighbour lists while they are in graph order: the same
// writes, in the same order, as filling it from the graph.
void fill_matrix(AdjMat& m) {
  for (int i = 0; i < m.vs; ++i) {
    int* row = m.buf.data() + i * m.stride;
    std::fill_n(row, m.vs, 0);
    const Neighbor* list = m.nbr.data() + m.v[i].n;
    for (int k = 0; k < m.v[i].d; ++k) row[list[k].v] = list[k].e;
  }
}

// The part count and each position's label, identity and part, in the current
// order: what both ways of writing a graph back share.
void write_vertex_fields(const AdjMat& m, Graph& g) {
  for (int a = 0; a < m.vs; ++a) {
    const Vertex& x = m.v[m.p[a]];
    g.vl[a] = x.l;
    g.vid[a] = x.id;
  }
}

// cl_adjmat_to_graph for lists that fill_vertices found simple: the nonzero
// entries of row p[a] are vertex p[a]'s list, written in ascending position.
void write_graph_from_lists(const AdjMat& m, Graph& g) {
  const int vs = m.vs;
  int es = 0;
  for (int i = 0; i < vs; ++i) es += m.v[i].d;
  CL_ASSERT(es == g.es && m.vs == g.vs, "es == g->es && m->vs == g->vs");
  write_vertex_fields(m, g);
  // Neighbours come out in ascending canonical index. Affects output.
  int k = 0;
  g.v[0] = 0;
  for (int a = 0; a < vs; ++a) {
    const Vertex& x = m.v[m.p[a]];
    const Neighbor* list = m.nbr.data() + x.n;
    const int start = k;
    for (int i = 0; i < x.d; ++i) {
      const int pos = m.q[list[i].v];
      int j = k++;
      for (; j > start && g.e[j - 1] > pos; --j) {
        g.e[j] = g.e[j - 1];
        g.el[j] = g.el[j - 1];
      }
      g.e[j] = pos;
      g.el[j] = list[i].e - 1;
    }
    g.v[a + 1] = k;
  }
}

}  // namespace

void cl_adjmat_to_graph(const AdjMat& m, Graph& g) {
  const int vs = m.vs;
  int es = 0;
  for (int i = 0; i < vs; ++i)
    for (int j = 0; j < vs; ++j) es += adj(m, i, j) != 0;
  CL_ASSERT(es == g.es && m.vs == g.vs, "es == g->es && m->vs == g->vs");
  write_vertex_fields(m, g);
  // Neighbours come out in ascending canonical index. Affects output.
  int k = 0;
  g.v[0] = 0;
  for (int a = 0; a < vs; ++a) {
    const int* row = m.buf.data() + m.p[a] * m.stride;
    for (int b = 0; b < vs; ++b) {
      const int x = row[m.p[b]];
      if (b != a && x != 0) {
        g.e[k] = b;
        g.el[k] = x - 1;
        ++k;
      }
    }
    g.v[a + 1] = k;
  }
}

namespace {

// A neighbour entry as one integer: edge value in the high half, the neighbour's
// part in the low half. Parts are never negative, so the keys order exactly as
// compare_neighbors does. Affects output.
inline long long neighbor_key(int e, int part) {
  return static_cast<long long>(static_cast<unsigned long long>(static_cast<long long>(e)) << 32) |
         static_cast<unsigned>(part);
}

// Sorted (e, neighbour part) keys of vertex x's neighbour list, into nkey. The
// list itself stays in graph order: comparisons see only the keys.
void sort_neighbor_keys(AdjMat& m, int x) {
  const Vertex& vx = m.v[x];
  const Neighbor* list = m.nbr.data() + vx.n;
  long long* key = m.nkey.data() + vx.n;
  const Vertex* v = m.v.data();
  for (int i = 0; i < vx.d; ++i) {
    const long long k = neighbor_key(list[i].e, v[list[i].v].part);
    int j = i;
    for (; j > 0 && key[j - 1] > k; --j) key[j] = key[j - 1];
    key[j] = k;
  }
}

// The order of the vertex sort, for vertex indices x and y whose neighbour keys
// are those of the current parts: -1, 0 or 1. Affects output: part ascending,
// degree descending, label ascending, then the sorted neighbour keys ascending
// (edge value, then neighbour part).
inline int compare_vertices(const AdjMat& m, int x, int y) {
  const Vertex& a = m.v[x];
  const Vertex& b = m.v[y];
  if (a.part != b.part) return a.part < b.part ? -1 : 1;
  if (a.d != b.d) return a.d > b.d ? -1 : 1;
  if (a.l != b.l) return a.l < b.l ? -1 : 1;
  const long long* ka = m.nkey.data() + a.n;
  const long long* kb = m.nkey.data() + b.n;
  for (int i = 0; i < a.d; ++i)
    if (ka[i] != kb[i]) return ka[i] < kb[i] ? -1 : 1;
  return 0;
}

// The selection sort of sorted_v over positions [from, to): a candidate is
// replaced only by an entry that goes strictly before it. Affects output.
void select_sort(AdjMat& m, int from, int to) {
  int* sv = m.sorted_v.data();
  for (int k = from; k < to - 1; ++k) {
    int c = k;
    for (int j = k + 1; j < to; ++j)
      if (compare_vertices(m, sv[j], sv[c]) < 0) c = j;
    if (c != k) std::swap(sv[k], sv[c]);
  }
}

}  // namespace

void sort_adjmat_vertices(AdjMat& m) {
  const int vs = m.vs;
  const Vertex* v = m.v.data();
  int* sv = m.sorted_v.data();
  bool by_part = true;
  for (int k = 1; k < vs && by_part; ++k) by_part = v[sv[k - 1]].part <= v[sv[k]].part;
  if (by_part) {
    // With sorted_v already in part order, no scan ever finds a smaller entry
    // outside the run of its own part, so the one selection sort over all of
    // sorted_v is the same as one per run; a run of one vertex moves nothing
    // and is never compared beyond its part, so its keys are not needed.
    int s = 0;
    while (s < vs) {
      int t = s + 1;
      while (t < vs && v[sv[t]].part == v[sv[s]].part) ++t;
      if (t - s > 1) {
        for (int k = s; k < t; ++k) sort_neighbor_keys(m, sv[k]);
        select_sort(m, s, t);
      }
      s = t;
    }
  } else {
    for (int i = 0; i < vs; ++i) sort_neighbor_keys(m, i);
    select_sort(m, 0, vs);
  }
  for (int k = 0; k < vs; ++k) {
    const int r = v[sv[k]].rank;
    m.p[k] = r;
    m.q[r] = k;
  }
}

namespace {

// Adopts the part boundaries of npart (nparts of them) for m and its vertices.
void adopt_new_parts(AdjMat& m) {
  m.parts = m.nparts;
  std::copy_n(m.npart.begin(), m.parts + 1, m.part.begin());
  Vertex* v = m.v.data();
  for (int i = 0; i < m.vs; ++i) v[i].part = v[i].npart;
}

// One refinement pass, run by run: a run is a stretch of sorted_v whose vertices
// share a part (every sort and every pass leaves sorted_v in part order). With
// `sorted` each run is sorted already and its neighbour keys are current, as
// right after sort_adjmat_vertices; otherwise each run of more than one vertex
// is sorted first (no scan of the sort leaves the run of its part). A run is
// split wherever compare_vertices changes; a run of one vertex is its own new
// part and needs no keys. Adopts the new parts.
void refine_pass(AdjMat& m, bool sorted) {
  const int vs = m.vs;
  Vertex* v = m.v.data();
  int* sv = m.sorted_v.data();
  int np = 0;
  for (int s = 0, t = 0; s < vs; s = t) {
    t = s + 1;
    while (t < vs && v[sv[t]].part == v[sv[s]].part) ++t;
    m.npart[np] = s;
    if (t - s == 1) {
      v[sv[s]].npart = np++;
      continue;
    }
    if (!sorted) {
      for (int i = s; i < t; ++i) sort_neighbor_keys(m, sv[i]);
      select_sort(m, s, t);
      for (int i = s; i < t; ++i) {
        const int r = v[sv[i]].rank;
        m.p[i] = r;
        m.q[r] = i;
      }
    }
    int rep = sv[s];
    v[rep].npart = np++;
    for (int i = s + 1; i < t; ++i) {
      const int w = sv[i];
      if (compare_vertices(m, rep, w) != 0) {
        v[w].npart = np;
        m.npart[np++] = i;
        rep = w;
      } else {
        v[w].npart = v[rep].npart;
      }
    }
  }
  m.npart[np] = vs;
  m.nparts = np;
  adopt_new_parts(m);
}

// Refinement passes, right after a sort, until one does not raise the number
// of parts. A pass that leaves the partition discrete ends the loop: one more
// pass would move no vertex and give every vertex the part and the npart it has.
void refine_presorted(AdjMat& m) {
  int prev = m.parts;
  refine_pass(m, true);
  while (m.parts > prev && m.parts < m.vs) {
    prev = m.parts;
    refine_pass(m, false);
  }
}

// The first part from `from` on with more than one vertex, or -1. Affects
// output: the individualisation search starts there.
int first_multi_part(const AdjMat& m, int from) {
  for (int k = from; k < m.parts; ++k)
    if (m.part[k + 1] - m.part[k] > 1) return k;
  return -1;
}

}  // namespace

namespace {

// The matrices of m's order and best's order, compared over the strict lower
// triangle of the rows at positions m.part[x] .. m.part[y + 1] - 1 (parts from
// m's partition), row by row: the first differing entry's difference m - best,
// 0 when equal. Inside a search best holds m's matrix, so both orders are read
// from m's matrix; rows up to the first position where the orders differ are
// equal and skipped. Affects output: the search keeps the greatest.
int compare_orders(const AdjMat& m, const AdjMat& best, int x, int y) {
  CL_ASSERT(m.vs == best.vs, "a->vs == b->vs");
  const int to = m.part[y + 1];
  const int* ap = m.p.data();
  const int* bp = best.p.data();
  int from = 0;
  while (from < to && ap[from] == bp[from]) ++from;
  from = std::max(from, m.part[x]);
  const int* buf = m.buf.data();
  const int stride = m.stride;
  for (int r = from; r < to; ++r) {
    const int* arow = buf + ap[r] * stride;
    const int* brow = buf + bp[r] * stride;
    for (int c = 0; c < r; ++c) {
      const int d = arow[ap[c]] - brow[bp[c]];
      if (d != 0) return d;
    }
  }
  return 0;
}

}  // namespace

int next_perm(int* a, int n) {
  int i = n - 2;
  while (i >= 0 && a[i] >= a[i + 1]) --i;
  if (i < 0) return 0;
  int j = n - 1;
  while (a[j] <= a[i]) --j;
  std::swap(a[i], a[j]);
  std::reverse(a + i + 1, a + n);
  return 1;
}

int perm_next_adjmat(AdjMat& m, int part) {
  const int s = m.part[part];
  const int n = m.part[part + 1] - s;
  if (n == 1) return 0;
  int* run = m.p.data() + s;
  // The run holds distinct indices, so a descending run sorted ascending is the
  // run reversed.
  if (!next_perm(run, n)) std::reverse(run, run + n);
  for (int k = 0; k < n; ++k) m.q[run[k]] = s + k;
  for (int k = 0; k < n; ++k)
    if (run[k] != m.o[s + k]) return 1;
  return 0;
}

void get_min_adjmat(AdjMat& m, int part, AdjMat& best) {
  // Affects output: an order equal to best is never copied, so the first order
  // visited among equal greatest matrices stays.
  if (part == m.parts - 1) {
    do {
      if (compare_orders(m, best, part, part) > 0) copy_adjmat_perm(m, best);
    } while (perm_next_adjmat(m, part));
    return;
  }
  if (m.v[m.p[m.part[part]]].d == 0) {
    get_min_adjmat(m, part + 1, best);
    return;
  }
  do {
    const int c = compare_orders(m, best, part, part);
    if (c >= 0) {
      if (c > 0) copy_adjmat_perm(m, best);
      get_min_adjmat(m, part + 1, best);
    }
  } while (perm_next_adjmat(m, part));
}

void fix_vertex(AdjMat& m, int rank, int* vp) {
  const int vs = m.vs;
  for (int i = 0; i < vs; ++i) vp[i] = m.v[i].part;
  bool hit = false;
  for (int k = m.part[m.v[rank].part]; k < vs; ++k) {
    const int r = m.p[k];
    if (r == rank)
      hit = true;
    else
      ++m.v[r].part;
  }
  CL_ASSERT(hit, "hit");
  sort_adjmat_vertices(m);
  refine_presorted(m);
}

void release_vertex(AdjMat& m, const int* vp) {
  // p and q are not restored: the sort recomputes them from sorted_v, which may
  // leave equal vertices in another order than before. Affects output.
  for (int i = 0; i < m.vs; ++i) m.v[i].part = vp[i];
  sort_adjmat_vertices(m);
  refine_presorted(m);
}

void get_min_adjmat_by_stabilizer(CanonState& w, AdjMat& m, int part, int p_part, AdjMat& best) {
  const int vs = m.vs;
  if (m.parts == vs) {
    // Storing a leaf copies the order and the partition, never the count parts.
    if (!w.best_has_leaf || compare_orders(m, best, p_part, part) > 0) {
      copy_adjmat_perm(m, best);
      copy_adjmat_partitioning(m, best);
      w.best_has_leaf = true;
    }
    return;
  }
  CL_ASSERT(m.part[part + 1] - m.part[part] > 1, "m_part[part + 1] - m_part[part] > 1");
  const int pindex = first_multi_part(m, 0);
  CL_ASSERT(pindex != -1, "pindex != -1");
  CL_ASSERT(pindex == part, "pindex == part");
  const std::size_t base = push_saved_state(w, vs);
  // Affects output: the vertex tried at position i is whichever stands there
  // after the previous release, and the bounds are re-read every step. On a tree
  // the branches after the first cannot change best (see search_refined).
  for (int i = m.part[part]; i < m.part[part + 1]; ++i) {
    const int rank = m.p[i];
    fix_vertex(m, rank, w.saved.data() + base);
    CL_ASSERT(m.parts <= vs, "m->parts <= m_vs");
    if (compare_orders(m, best, 0, part) >= 0) {
      const int multi = first_multi_part(m, part + 1);
      const int next = multi == -1 ? vs - 1 : multi;
      get_min_adjmat_by_stabilizer(w, m, next, part, best);
    }
    release_vertex(m, w.saved.data() + base);
    if (w.first_branch_only) break;
  }
  w.saved_top = base;
}

namespace {

// Whether m, whose lists hold each edge at both ends, is a tree: vs - 1 edges and
// connected.
bool is_tree(CanonState& w, const AdjMat& m) {
  const int vs = m.vs;
  long long ends = 0;
  for (int i = 0; i < vs; ++i) ends += m.v[i].d;
  if (ends != 2LL * (vs - 1)) return false;
  w.tree_seen.assign(static_cast<std::size_t>(vs), 0);
  w.tree_stack.clear();
  w.tree_stack.push_back(0);
  w.tree_seen[0] = 1;
  int reached = 1;
  while (!w.tree_stack.empty()) {
    const Vertex& x = m.v[w.tree_stack.back()];
    w.tree_stack.pop_back();
    for (int k = 0; k < x.d; ++k) {
      const int y = m.nbr[x.n + k].v;
      if (!w.tree_seen[y]) {
        w.tree_seen[y] = 1;
        ++reached;
        w.tree_stack.push_back(y);
      }
    }
  }
  return reached == vs;
}

// The search after refinement: leaves the canonical order in m.p and m.q.
// Returns whether the order's matrix depends only on the labelled graph, not on
// the numbering of its vertices.
//
// Refinement gives an ordered partition whose parts, as sets, and their order
// follow from labels and adjacency alone. The exhaustive search keeps the
// greatest matrix over every order of the vertices inside the parts: a set of
// orders fixed by that partition, so the greatest matrix, and with it v, e, el
// and vl (all vertices of a part share their label), is the same for every
// numbering. So is a discrete refinement. The individualisation search is not
// so: a leaf replaces best only when its rows from its parent's fixed vertex on
// are greater, so which leaf wins can depend on the order in which leaves are
// met, and that order follows the numbering; its result is reported as
// numbering-dependent.
//
// Why the individualisation search may stop after the first branch of every
// level on a tree. Let T be a tree and P an equitable partition of its vertices
// that refines the labels (every vertex of a part has the same label and, for
// each part Z and edge label f, the same number c(X, f, Z) of f-neighbours in Z);
// every partition refinement leaves is one, with individualised vertices as
// singletons. Walk T from a vertex u of part X: a vertex of part Z reached from
// its parent in part Y over an edge labelled e has, for each (f, W), exactly
// c(Z, f, W) - [W = Y and f = e] children in W, so T hung from u depends only on
// X and the counts. Hung from another vertex u' of X it is the same labelled
// tree, with parts kept: an automorphism of T that maps u to u' and every part
// to itself, fixing every singleton. Hence each vertex tried in a part has an
// automorphism image in every other, fixing everything individualised so far;
// refinement commutes with automorphisms, so the ordered partitions reached
// after trying them are images of one another and hold the same rows at their
// singleton positions, and all leaves have one matrix. Every comparison of the
// search reads rows of singleton positions only, so every branch of a level
// compares exactly as the first did: before any leaf, all or none are cut
// against the starting order; after the first leaf, every later leaf equals it
// and is not stored. The first branch alone thus leaves best as the whole
// search does, order and partition included. The unpruned search stays
// available as the reference (cl_canonicalize_graph_unpruned).
bool search_refined(CanonState& w, AdjMat& m, AdjMat& best) {
  if (m.parts == m.vs) return true;
  int max = 0;
  for (int k = 0; k < m.parts; ++k) max = std::max(max, m.part[k + 1] - m.part[k]);
  best.vs = m.vs;
  copy_order_state(m, best);
  // Affects output: the search kind depends on the largest part, the
  // individualisation starts at the first part with more than one vertex.
  const bool exhaustive = max < Canonical_Labeling_Stabilizer_Threshold;
  if (exhaustive) {
    std::copy_n(m.p.begin(), m.vs, m.o.begin());
    get_min_adjmat(m, 0, best);
  } else {
    const int part = first_multi_part(m, 0);
    CL_ASSERT(part != -1, "part != -1");
    w.best_has_leaf = false;
    w.saved_top = 0;
    w.first_branch_only = w.prune_allowed && is_tree(w, m);
    get_min_adjmat_by_stabilizer(w, m, part, 0, best);
    w.first_branch_only = false;
  }
  copy_order_state(best, m);
  return exhaustive;
}

}  // namespace

CanonWork::CanonWork() : state(std::make_unique<CanonState>()) {}
CanonWork::~CanonWork() = default;
CanonWork::CanonWork(CanonWork&&) noexcept = default;
CanonWork& CanonWork::operator=(CanonWork&&) noexcept = default;

bool cl_canonicalize_graph(Graph& g, CanonWork& work) {
  CanonState& w = *work.state;
  const int vs = g.vs;
  SARVIK_ASSERT(vs > 0, kModule);
  if (w.size < vs) {
    w.size = vs;
    w.m = cl_alloc_adjmat(vs);
    w.min = cl_alloc_adjmat(vs);
    w.saved.reserve(static_cast<std::size_t>(vs) * vs);
  }
  AdjMat& m = w.m;
  m.vs = vs;
  m.stride = vs;
  m.parts = 1;
  m.part[0] = 0;
  m.part[1] = vs;
  for (int i = 0; i < vs; ++i) {
    m.v[i].rank = i;
    m.p[i] = m.q[i] = i;
    m.sorted_v[i] = i;
  }
  // The matrix is filled only when a search or an irregular graph needs it.
  const bool simple = fill_vertices(g, m);
  sort_adjmat_vertices(m);
  refine_presorted(m);
  if (m.parts < vs || !simple) fill_matrix(m);
  const bool numbering_free = search_refined(w, m, w.min);
  if (simple)
    write_graph_from_lists(m, g);
  else
    cl_adjmat_to_graph(m, g);
  g.key = graph_hash_key(g);
  return numbering_free;
}

bool cl_canonicalize_graph_unpruned(Graph& g, CanonWork& work) {
  work.state->prune_allowed = false;
  const bool numbering_free = cl_canonicalize_graph(g, work);
  work.state->prune_allowed = true;
  return numbering_free;
}

namespace {

// One byte of the key chain, the byte read as a signed char. Affects output.
inline unsigned key_step(unsigned h, signed char c) {
  return h ^ ((h << 5) + (h >> 3) + static_cast<unsigned>(static_cast<int>(c)));
}

// The same step for a zero byte.
inline unsigned key_step0(unsigned h) { return h ^ ((h << 5) + (h >> 3)); }

// The four bytes of each int, least significant first. Ints below 256 (nearly
// all of them: indices, offsets, labels) have three zero bytes on top.
unsigned key_feed(unsigned h, const int* a, int count) {
  for (int i = 0; i < count; ++i) {
    const unsigned u = static_cast<unsigned>(a[i]);
    h = key_step(h, static_cast<signed char>(u));
    if (u < 256u) {
      h = key_step0(key_step0(key_step0(h)));
    } else {
      h = key_step(h, static_cast<signed char>(u >> 8));
      h = key_step(h, static_cast<signed char>(u >> 16));
      h = key_step(h, static_cast<signed char>(u >> 24));
    }
  }
  return h;
}

}  // namespace

unsigned graph_hash_key(const Graph& g) {
  // Affects output: ints in the order e, v (vs + 1), el, vl, each as its four
  // bytes least significant first, every byte read as a signed char.
  const unsigned n = 2u * static_cast<unsigned>(g.es) + 2u * static_cast<unsigned>(g.vs) + 1u;
  unsigned h = 4u * n;
  h = key_feed(h, g.e.data(), g.es);
  h = key_feed(h, g.v.data(), g.vs + 1);
  h = key_feed(h, g.el.data(), g.es);
  h = key_feed(h, g.vl.data(), g.vs);
  return h;
}

int graph_compare(const Graph& a, const Graph& b) {
  if (a.es != b.es) return a.es - b.es;
  if (a.vs != b.vs) return a.vs - b.vs;
  if (a.key != b.key) return static_cast<int>(a.key - b.key) > 0 ? 1 : -1;
  for (int i = 0; i < a.vs; ++i) {
    if (a.v[i] != b.v[i]) return a.v[i] - b.v[i];
    if (a.vl[i] != b.vl[i]) return a.vl[i] - b.vl[i];
  }
  for (int i = 0; i < a.es; ++i) {
    if (a.e[i] != b.e[i]) return a.e[i] - b.e[i];
    if (a.el[i] != b.el[i]) return a.el[i] - b.el[i];
  }
  return 0;
}

}  // namespace sarvik
