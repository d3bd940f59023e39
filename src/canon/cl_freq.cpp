// Canonical labelling: partition refinement on a dense matrix, then a search
// inside the remaining parts; the fragment key and the total order of fragments.
#include "canon/cl_freq.h"

#include <algorithm>
#include <memory>

#include "canon/cl_freq_detail.h"

namespace {

constexpr const char* kModule = "cl_freq";

// Invariant check that prints the fixed text of the check rather than the C++
// spelling of the expression.
#define CL_ASSERT(expr, text) ((expr) ? (void)0 : assert_fail(text, kModule, __LINE__))

// Parts of this size or more are searched by individualisation instead of by
// trying every order. Affects output.
constexpr int Canonical_Labeling_Stabilizer_Threshold = 5;

// The work area: the matrix being searched and the best order found so far,
// both laid out for Work_Matrix_Size vertices. Grows only.
std::unique_ptr<AdjMat> Work_Matrix;
std::unique_ptr<AdjMat> Work_Matrix_Min;
int Work_Matrix_Size = 0;

// Saved state of the individualisation search: 3 * vs ints per level, taken as a
// stack so that no level allocates once the stack has grown.
std::vector<int> Saved_State;
std::size_t Saved_Top = 0;

// Whether best holds a leaf of the individualisation search; reset per search.
bool Best_Has_Leaf = false;

// Ensures room for one more level of saved state and returns its offset.
std::size_t push_saved_state(int vs) {
  std::size_t base = Saved_Top;
  Saved_Top += 3 * static_cast<std::size_t>(vs);
  if (Saved_State.size() < Saved_Top) Saved_State.resize(Saved_Top);
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

void cl_copy_adjmat2(const AdjMat& src, AdjMat& dst) {
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
  for (int i = 0; i < vs; ++i) {
    for (int j = i; j < vs; ++j) {
      const int x = adj(src, i, j);
      dst.buf[i * dst.stride + j] = x;
      dst.buf[j * dst.stride + i] = x;
    }
  }
  std::copy_n(src.part.begin(), vs + 1, dst.part.begin());
  std::copy_n(src.npart.begin(), vs + 1, dst.npart.begin());
  for (int i = 0; i < vs; ++i) {
    const Vertex& s = src.v[i];
    const Vertex& d = dst.v[i];
    for (int k = 0; k < s.d; ++k) {
      const Neighbor& sn = src.nbr[s.n + k];
      dst.nbr[d.n + k] = Neighbor{sn.e, src.v[sn.v].rank};
    }
  }
}

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

void cl_graph_to_adjmat(const Graph& g, AdjMat& m) {
  const int vs = g.vs;
  for (int i = 0; i < vs; ++i) m.p[i] = m.q[i] = i;
  for (int i = 0; i < vs; ++i) std::fill_n(m.buf.begin() + i * m.stride, vs, 0);
  for (int i = 0; i < vs; ++i) {
    Vertex& x = m.v[m.p[i]];
    x.id = g.vid[i];
    x.d = g.v[i + 1] - g.v[i];
    x.l = g.vl[i];
    x.part = 0;
    int* row = m.buf.data() + m.p[i] * m.stride;
    for (int k = g.v[i]; k < g.v[i + 1]; ++k) row[m.p[g.e[k]]] = g.el[k] + 1;
  }
  setup_neighbors(m, g);
}

void setup_neighbors(AdjMat& m, const Graph& g) {
  for (int i = 0; i < g.vs; ++i) {
    Neighbor* list = m.nbr.data() + m.v[i].n;
    for (int k = g.v[i]; k < g.v[i + 1]; ++k) list[k - g.v[i]] = Neighbor{g.el[k] + 1, g.e[k]};
  }
}

void cl_adjmat_to_graph(const AdjMat& m, Graph& g) {
  const int vs = m.vs;
  int es = 0;
  for (int i = 0; i < vs; ++i)
    for (int j = 0; j < vs; ++j) es += adj(m, i, j) != 0;
  CL_ASSERT(es == g.es && m.vs == g.vs, "es == g->es && m->vs == g->vs");
  g.ps = m.parts;
  for (int a = 0; a < vs; ++a) {
    const Vertex& x = m.v[m.p[a]];
    g.vl[a] = x.l;
    g.vid[a] = x.id;
    g.p[a] = x.npart;
  }
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

// Affects output: (e ascending, then neighbour part ascending).
int compare_neighbors(const AdjMat& m, const Neighbor& x, const Neighbor& y) {
  if (x.e != y.e) return x.e - y.e;
  return m.v[x.v].part - m.v[y.v].part;
}

int compare_all_neighbors(const AdjMat& m, const Vertex& x, const Vertex& y) {
  CL_ASSERT(x.d == y.d, "x->d == y->d");
  const Neighbor* a = m.nbr.data() + x.n;
  const Neighbor* b = m.nbr.data() + y.n;
  for (int k = 0; k < x.d; ++k) {
    const int c = compare_neighbors(m, a[k], b[k]);
    if (c != 0) return c;
  }
  return 0;
}

// Affects output: part ascending, degree descending, label ascending, then the
// sorted neighbour lists.
int compare_vertices(const AdjMat& m, const Vertex& x, const Vertex& y) {
  if (x.part != y.part) return x.part - y.part;
  if (x.d != y.d) return y.d - x.d;
  if (x.l != y.l) return x.l - y.l;
  return compare_all_neighbors(m, x, y);
}

void sort_adjmat_vertices(AdjMat& m) {
  const int vs = m.vs;
  Vertex* v = m.v.data();
  // Affects output (through the order of equal vertices below): selection sorts
  // that take a new candidate only when it is strictly smaller.
  for (int i = 0; i < vs; ++i) {
    Neighbor* list = m.nbr.data() + v[i].n;
    const int d = v[i].d;
    for (int k = 0; k < d; ++k) {
      int c = k;
      for (int j = k + 1; j < d; ++j)
        if (compare_neighbors(m, list[j], list[c]) < 0) c = j;
      if (c != k) std::swap(list[k], list[c]);
    }
  }
  int* sv = m.sorted_v.data();
  for (int k = 0; k < vs; ++k) {
    int c = k;
    for (int j = k + 1; j < vs; ++j)
      if (compare_vertices(m, v[sv[j]], v[sv[c]]) < 0) c = j;
    if (c != k) std::swap(sv[k], sv[c]);
  }
  for (int k = 0; k < vs; ++k) {
    const int r = v[sv[k]].rank;
    m.p[k] = r;
    m.q[r] = k;
  }
}

namespace {

// One refinement pass over the order p already sorted by the current parts;
// returns the new number of parts after adopting them.
void refine_pass(AdjMat& m) {
  const int vs = m.vs;
  Vertex* v = m.v.data();
  Vertex* rep = &v[m.p[0]];
  rep->npart = 0;
  m.npart[0] = 0;
  for (int i = 1; i < vs; ++i) {
    Vertex* w = &v[m.p[i]];
    if (compare_vertices(m, *rep, *w) != 0) {
      w->npart = rep->npart + 1;
      m.npart[w->npart] = i;
      rep = w;
    } else {
      w->npart = rep->npart;
    }
  }
  m.npart[rep->npart + 1] = vs;
  m.nparts = rep->npart + 1;
  m.parts = m.nparts;
  std::copy_n(m.npart.begin(), m.parts + 1, m.part.begin());
  for (int i = 0; i < vs; ++i) v[i].part = v[i].npart;
}

// Refinement whose first sort is known to be done already: sorting an order
// that is sorted under unchanged parts moves nothing, so skipping it keeps the
// result identical.
void refine_presorted(AdjMat& m) {
  int prev = 0;
  bool sorted = true;
  while (m.parts > prev) {
    if (!sorted) sort_adjmat_vertices(m);
    sorted = false;
    prev = m.parts;
    refine_pass(m);
  }
}

}  // namespace

void refine_partitions(AdjMat& m) {
  int prev = 0;
  while (m.parts > prev) {
    sort_adjmat_vertices(m);
    prev = m.parts;
    refine_pass(m);
  }
}

int compare_adjmat_parts_from_to(const AdjMat& a, const AdjMat& b, int x, int y) {
  CL_ASSERT(a.vs == b.vs, "a->vs == b->vs");
  const int from = a.part[x];
  const int to = a.part[y + 1];
  const int* ap = a.p.data();
  const int* bp = b.p.data();
  for (int r = from; r < to; ++r) {
    const int* arow = a.buf.data() + ap[r] * a.stride;
    const int* brow = b.buf.data() + bp[r] * b.stride;
    for (int c = 0; c < r; ++c) {
      const int d = arow[ap[c]] - brow[bp[c]];
      if (d != 0) return d;
    }
  }
  return 0;
}

int compare_adjmat_parts(const AdjMat& a, const AdjMat& b, int part) {
  return compare_adjmat_parts_from_to(a, b, part, part);
}

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
      if (compare_adjmat_parts(m, best, part) > 0) copy_adjmat_perm(m, best);
    } while (perm_next_adjmat(m, part));
    return;
  }
  if (m.v[m.p[m.part[part]]].d == 0) {
    get_min_adjmat(m, part + 1, best);
    return;
  }
  do {
    const int c = compare_adjmat_parts(m, best, part);
    if (c >= 0) {
      if (c > 0) copy_adjmat_perm(m, best);
      get_min_adjmat(m, part + 1, best);
    }
  } while (perm_next_adjmat(m, part));
}

void fix_vertex(AdjMat& m, int rank, int* p, int* q, int* vp) {
  const int vs = m.vs;
  std::copy_n(m.p.begin(), vs, p);
  std::copy_n(m.q.begin(), vs, q);
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

void release_vertex(AdjMat& m, int /*rank*/, int* /*p*/, int* /*q*/, int* vp) {
  // p and q are not restored: the sort recomputes them from sorted_v, which may
  // leave equal vertices in another order than before. Affects output.
  for (int i = 0; i < m.vs; ++i) m.v[i].part = vp[i];
  sort_adjmat_vertices(m);
  refine_presorted(m);
}

void get_min_adjmat_by_stabilizer(AdjMat& m, int part, int p_part, AdjMat& best) {
  const int vs = m.vs;
  if (m.parts == vs) {
    // Storing a leaf copies the order and the partition, never the count parts.
    if (!Best_Has_Leaf || compare_adjmat_parts_from_to(m, best, p_part, part) > 0) {
      copy_adjmat_perm(m, best);
      copy_adjmat_partitioning(m, best);
      Best_Has_Leaf = true;
    }
    return;
  }
  CL_ASSERT(m.part[part + 1] - m.part[part] > 1, "m_part[part + 1] - m_part[part] > 1");
  int pindex = -1;
  for (int k = 0; k < m.parts; ++k) {
    if (m.part[k + 1] - m.part[k] > 1) {
      pindex = k;
      break;
    }
  }
  CL_ASSERT(pindex != -1, "pindex != -1");
  CL_ASSERT(pindex == part, "pindex == part");
  const std::size_t base = push_saved_state(vs);
  // Affects output: the vertex tried at position i is whichever stands there
  // after the previous release, and the bounds are re-read every step.
  for (int i = m.part[part]; i < m.part[part + 1]; ++i) {
    const int rank = m.p[i];
    int* saved = Saved_State.data() + base;
    fix_vertex(m, rank, saved, saved + vs, saved + 2 * vs);
    CL_ASSERT(m.parts <= vs, "m->parts <= m_vs");
    if (compare_adjmat_parts_from_to(m, best, 0, part) >= 0) {
      int next = vs - 1;
      for (int k = part + 1; k < m.parts; ++k) {
        if (m.part[k + 1] - m.part[k] > 1) {
          next = k;
          break;
        }
      }
      get_min_adjmat_by_stabilizer(m, next, part, best);
    }
    saved = Saved_State.data() + base;
    release_vertex(m, rank, saved, saved + vs, saved + 2 * vs);
  }
  Saved_Top = base;
}

namespace {

// The search after refinement: leaves the canonical order in m.p and m.q.
void search_refined(AdjMat& m, AdjMat& best) {
  if (m.parts == m.vs) return;
  int max = 0;
  for (int k = 0; k < m.parts; ++k) max = std::max(max, m.part[k + 1] - m.part[k]);
  best.vs = m.vs;
  cl_copy_adjmat2(m, best);
  // Affects output: the search kind depends on the largest part, the
  // individualisation starts at the first part with more than one vertex.
  if (max < Canonical_Labeling_Stabilizer_Threshold) {
    std::copy_n(m.p.begin(), m.vs, m.o.begin());
    get_min_adjmat(m, 0, best);
  } else {
    int part = -1;
    for (int k = 0; k < m.parts; ++k) {
      if (m.part[k + 1] - m.part[k] > 1) {
        part = k;
        break;
      }
    }
    CL_ASSERT(part != -1, "part != -1");
    Best_Has_Leaf = false;
    Saved_Top = 0;
    get_min_adjmat_by_stabilizer(m, part, 0, best);
  }
  cl_copy_adjmat2(best, m);
}

}  // namespace

void cl_canonicalize_adjmat(AdjMat& m, AdjMat& best) {
  refine_partitions(m);
  search_refined(m, best);
}

void cl_free_work_area() {
  Work_Matrix.reset();
  Work_Matrix_Min.reset();
  Work_Matrix_Size = 0;
  std::vector<int>().swap(Saved_State);
  Saved_Top = 0;
}

const AdjMat* cl_work_matrix() { return Work_Matrix.get(); }
const AdjMat* cl_work_matrix_min() { return Work_Matrix_Min.get(); }
int cl_work_matrix_size() { return Work_Matrix_Size; }

void cl_canonicalize_graph(Graph& g) {
  const int vs = g.vs;
  SARVIK_ASSERT(vs > 0 && static_cast<int>(g.p.size()) >= vs, kModule);
  if (Work_Matrix_Size < vs) cl_free_work_area();
  if (!Work_Matrix) {
    Work_Matrix_Size = vs;
    Work_Matrix = std::make_unique<AdjMat>(cl_alloc_adjmat(vs));
    Work_Matrix_Min = std::make_unique<AdjMat>(cl_alloc_adjmat(vs));
    Saved_State.reserve(3 * static_cast<std::size_t>(vs) * vs);
  }
  AdjMat& m = *Work_Matrix;
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
  cl_graph_to_adjmat(g, m);
  sort_adjmat_vertices(m);
  refine_presorted(m);
  search_refined(m, *Work_Matrix_Min);
  cl_adjmat_to_graph(m, g);
  g.key = graph_hash_key(g);
}

std::size_t graph_sizeof(int es, int vs) {
  return sizeof(Graph) + (3 * static_cast<std::size_t>(es) + 5 * static_cast<std::size_t>(vs) + 1) * sizeof(int);
}

unsigned graph_hash_key(const Graph& g) {
  // Affects output: ints in the order e, v (vs + 1), el, vl, each as its four
  // bytes least significant first, every byte read as a signed char.
  const unsigned n = 2u * static_cast<unsigned>(g.es) + 2u * static_cast<unsigned>(g.vs) + 1u;
  unsigned h = 4u * n;
  auto feed = [&h](const int* a, int count) {
    for (int i = 0; i < count; ++i) {
      const unsigned u = static_cast<unsigned>(a[i]);
      for (int b = 0; b < 32; b += 8) {
        const signed char c = static_cast<signed char>(u >> b);
        h ^= (h << 5) + (h >> 3) + static_cast<unsigned>(static_cast<int>(c));
      }
    }
  };
  feed(g.e.data(), g.es);
  feed(g.v.data(), g.vs + 1);
  feed(g.el.data(), g.es);
  feed(g.vl.data(), g.vs);
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
