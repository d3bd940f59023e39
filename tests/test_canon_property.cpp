// Canonical labelling as a whole: invariance under renumbering, agreement with
// isomorphism, and agreement with a slow literal version of the same algorithm.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "canon/cl_freq.h"
#include "driver/generate_all_trees_freq.h"
#include "test_support.h"

// A slow, literal canonical labelling kept beside the fast one: one block per
// matrix with pointer-linked records, saved state allocated per search level,
// every sort done as written, the key hashed through a scratch buffer.
namespace literal {

struct Vertex;
struct Neighbor {
  int e;
  Vertex* v;
};
struct Vertex {
  int id, d, l, rank, part, npart;
  Neighbor* n;
};
struct AdjMat {
  int size, vs;
  Vertex* v;
  Vertex** sorted_v;
  int* buf;
  int** e;
  int* part;
  int parts;
  int* npart;
  int nparts;
  int *o, *p, *q;
};

inline AdjMat* Work_Matrix = nullptr;
inline AdjMat* Work_Matrix_Min = nullptr;
inline int Work_Matrix_Size = 0;
inline int Canonical_Labeling_Stabilizer_Threshold = 5;
inline int Best_Is_Leaf = 0;

inline void check(bool ok) {
  if (!ok) std::abort();
}

// Sub-blocks are rounded up to 8 bytes so the pointers inside stay aligned.
inline size_t round8(size_t x) { return (x + 7) & ~static_cast<size_t>(7); }

inline size_t cl_adjmat_sizeof(int vs) {
  size_t n = static_cast<size_t>(vs);
  return round8(sizeof(AdjMat)) + round8(n * sizeof(Vertex)) + round8(n * sizeof(Vertex*)) +
         round8(n * n * sizeof(int)) + round8(n * sizeof(int*)) + 2 * round8((n + 1) * sizeof(int)) +
         3 * round8(n * sizeof(int)) + n * n * sizeof(Neighbor);
}

inline void cl_setup_adjmat(AdjMat* m, int vs) {
  char* b = reinterpret_cast<char*>(m);
  size_t n = static_cast<size_t>(vs);
  size_t off = round8(sizeof(AdjMat));
  m->vs = vs;
  m->v = reinterpret_cast<Vertex*>(b + off);
  off += round8(n * sizeof(Vertex));
  m->sorted_v = reinterpret_cast<Vertex**>(b + off);
  off += round8(n * sizeof(Vertex*));
  m->buf = reinterpret_cast<int*>(b + off);
  off += round8(n * n * sizeof(int));
  m->e = reinterpret_cast<int**>(b + off);
  off += round8(n * sizeof(int*));
  m->part = reinterpret_cast<int*>(b + off);
  off += round8((n + 1) * sizeof(int));
  m->npart = reinterpret_cast<int*>(b + off);
  off += round8((n + 1) * sizeof(int));
  m->o = reinterpret_cast<int*>(b + off);
  off += round8(n * sizeof(int));
  m->p = reinterpret_cast<int*>(b + off);
  off += round8(n * sizeof(int));
  m->q = reinterpret_cast<int*>(b + off);
  off += round8(n * sizeof(int));
  Neighbor* nb = reinterpret_cast<Neighbor*>(b + off);
  for (int i = 0; i < vs; i++) {
    m->v[i].rank = i;
    m->p[i] = m->q[i] = i;
    m->sorted_v[i] = &m->v[i];
    m->e[i] = m->buf + i * vs;
    m->v[i].n = nb + i * vs;
  }
  m->parts = 1;
  m->part[0] = 0;
  m->part[1] = vs;
}

inline AdjMat* cl_alloc_adjmat(int vs) {
  size_t size = cl_adjmat_sizeof(vs);
  AdjMat* m = static_cast<AdjMat*>(std::malloc(size));
  // Unset fields hold a fixed junk pattern, so a read of one shows up as a
  // difference instead of depending on the allocator.
  std::memset(static_cast<void*>(m), 0x5a, size);
  m->size = static_cast<int>(size);
  cl_setup_adjmat(m, vs);
  return m;
}

inline void cl_copy_adjmat2(AdjMat* src, AdjMat* dst) {
  check(dst->vs == src->vs);
  int vs = src->vs;
  dst->parts = src->parts;
  dst->nparts = src->nparts;
  for (int i = 0; i < vs; i++) {
    Neighbor* n = dst->v[i].n;
    dst->v[i] = src->v[i];
    dst->v[i].n = n;
  }
  for (int i = 0; i < vs; i++) dst->sorted_v[i] = &dst->v[src->sorted_v[i]->rank];
  for (int i = 0; i < vs; i++) {
    dst->o[i] = src->o[i];
    dst->p[i] = src->p[i];
    dst->q[i] = src->q[i];
  }
  for (int i = 0; i < vs; i++)
    for (int j = i; j < vs; j++) dst->e[i][j] = dst->e[j][i] = src->e[i][j];
  for (int i = 0; i <= vs; i++) {
    dst->part[i] = src->part[i];
    dst->npart[i] = src->npart[i];
  }
  for (int i = 0; i < vs; i++)
    for (int k = 0; k < src->v[i].d; k++) {
      dst->v[i].n[k].e = src->v[i].n[k].e;
      dst->v[i].n[k].v = &dst->v[src->v[i].n[k].v->rank];
    }
}

inline void cl_free_work_area() {
  std::free(Work_Matrix);
  std::free(Work_Matrix_Min);
  Work_Matrix = Work_Matrix_Min = nullptr;
  Work_Matrix_Size = 0;
}

inline void copy_adjmat_perm(AdjMat* src, AdjMat* dst) {
  check(src->vs == dst->vs);
  for (int i = 0; i < src->vs; i++) {
    dst->p[i] = src->p[i];
    dst->q[i] = src->q[i];
  }
}

inline void copy_adjmat_partitioning(AdjMat* src, AdjMat* dst) {
  check(src->vs == dst->vs);
  for (int i = 0; i < src->vs; i++) dst->v[i].part = src->v[i].part;
  for (int i = 0; i <= src->vs; i++) dst->part[i] = src->part[i];
}

inline void setup_neighbors(AdjMat* m, Graph* g) {
  for (int i = 0; i < g->vs; i++)
    for (int k = g->v[i]; k < g->v[i + 1]; k++) {
      m->v[i].n[k - g->v[i]].e = g->el[k] + 1;
      m->v[i].n[k - g->v[i]].v = &m->v[g->e[k]];
    }
}

inline void cl_graph_to_adjmat(Graph* g, AdjMat* m) {
  for (int i = 0; i < m->vs; i++) m->p[i] = m->q[i] = i;
  for (int i = 0; i < m->vs; i++)
    for (int j = 0; j < m->vs; j++) m->e[i][j] = 0;
  for (int i = 0; i < g->vs; i++) {
    Vertex* x = &m->v[m->p[i]];
    x->id = g->vid[i];
    x->d = g->v[i + 1] - g->v[i];
    x->l = g->vl[i];
    x->part = 0;
    for (int k = g->v[i]; k < g->v[i + 1]; k++) m->e[m->p[i]][m->p[g->e[k]]] = g->el[k] + 1;
  }
  setup_neighbors(m, g);
}

inline void cl_adjmat_to_graph(AdjMat* m, Graph* g) {
  int es = 0;
  for (int i = 0; i < m->vs; i++)
    for (int j = 0; j < m->vs; j++)
      if (m->e[i][j]) es++;
  check(es == g->es && m->vs == g->vs);
  g->ps = m->parts;
  for (int a = 0; a < m->vs; a++) {
    g->vl[a] = m->v[m->p[a]].l;
    g->vid[a] = m->v[m->p[a]].id;
    g->p[a] = m->v[m->p[a]].npart;
  }
  int k = 0;
  g->v[0] = 0;
  for (int a = 0; a < m->vs; a++) {
    for (int b = 0; b < m->vs; b++) {
      if (b != a && m->e[m->p[a]][m->p[b]]) {
        g->e[k] = b;
        g->el[k] = m->e[m->p[a]][m->p[b]] - 1;
        k++;
      }
    }
    g->v[a + 1] = k;
  }
}

inline int compare_neighbors(const void* a, const void* b) {
  const Neighbor* x = static_cast<const Neighbor*>(a);
  const Neighbor* y = static_cast<const Neighbor*>(b);
  if (x->e != y->e) return x->e - y->e;
  if (x->v->part != y->v->part) return x->v->part - y->v->part;
  return 0;
}

inline int compare_all_neighbors(Vertex* x, Vertex* y) {
  check(x->d == y->d);
  for (int i = 0; i < x->d; i++) {
    int c = compare_neighbors(&x->n[i], &y->n[i]);
    if (c) return c;
  }
  return 0;
}

inline int compare_vertices(const void* a, const void* b) {
  Vertex* x = *static_cast<Vertex* const*>(a);
  Vertex* y = *static_cast<Vertex* const*>(b);
  if (x->part != y->part) return x->part - y->part;
  if (x->d != y->d) return y->d - x->d;
  if (x->l != y->l) return x->l - y->l;
  return compare_all_neighbors(x, y);
}

inline void sort_adjmat_vertices(AdjMat* m) {
  for (int i = 0; i < m->vs; i++) {
    Vertex* x = &m->v[i];
    for (int k = 0; k < x->d; k++) {
      int c = k;
      for (int j = k + 1; j < x->d; j++)
        if (compare_neighbors(&x->n[j], &x->n[c]) < 0) c = j;
      if (c != k) std::swap(x->n[k], x->n[c]);
    }
  }
  for (int k = 0; k < m->vs; k++) {
    int c = k;
    for (int j = k + 1; j < m->vs; j++)
      if (compare_vertices(&m->sorted_v[j], &m->sorted_v[c]) < 0) c = j;
    if (c != k) std::swap(m->sorted_v[k], m->sorted_v[c]);
  }
  for (int k = 0; k < m->vs; k++) {
    m->p[k] = m->sorted_v[k]->rank;
    m->q[m->sorted_v[k]->rank] = k;
  }
}

inline void refine_partitions(AdjMat* m) {
  int prev = 0;
  while (m->parts > prev) {
    sort_adjmat_vertices(m);
    Vertex* rep = &m->v[m->p[0]];
    rep->npart = 0;
    m->npart[0] = 0;
    for (int i = 1; i < m->vs; i++) {
      Vertex* w = &m->v[m->p[i]];
      if (compare_vertices(&rep, &w)) {
        w->npart = rep->npart + 1;
        m->npart[w->npart] = i;
        rep = w;
      } else {
        w->npart = rep->npart;
      }
    }
    m->npart[rep->npart + 1] = m->vs;
    m->nparts = rep->npart + 1;
    prev = m->parts;
    m->parts = m->nparts;
    for (int k = 0; k <= m->parts; k++) m->part[k] = m->npart[k];
    for (int i = 0; i < m->vs; i++) m->v[i].part = m->v[i].npart;
  }
}

inline int compare_adjmat_parts_from_to(AdjMat* a, AdjMat* b, int x, int y) {
  check(a->vs == b->vs);
  for (int r = a->part[x]; r <= a->part[y + 1] - 1; r++)
    for (int c = 0; c < r; c++) {
      int d = a->e[a->p[r]][a->p[c]] - b->e[b->p[r]][b->p[c]];
      if (d) return d;
    }
  return 0;
}

inline int compare_adjmat_parts(AdjMat* a, AdjMat* b, int part) {
  check(a->vs == b->vs);
  return compare_adjmat_parts_from_to(a, b, part, part);
}

inline int next_perm(int* a, int n) {
  int i = -1;
  for (int k = 0; k < n - 1; k++)
    if (a[k] < a[k + 1]) i = k;
  if (i == -1) return 0;
  int j = i + 1;
  for (int k = i + 1; k < n; k++)
    if (a[k] > a[i]) j = k;
  std::swap(a[i], a[j]);
  std::reverse(a + i + 1, a + n);
  return 1;
}

inline int perm_next_adjmat(AdjMat* m, int part) {
  int s = m->part[part];
  int n = m->part[part + 1] - s;
  if (n == 1) return 0;
  if (!next_perm(m->p + s, n)) {
    for (int i = 1; i < n; i++)
      for (int j = i; j > 0 && m->p[s + j - 1] > m->p[s + j]; j--) std::swap(m->p[s + j], m->p[s + j - 1]);
  }
  for (int k = s; k < s + n; k++) m->q[m->p[k]] = k;
  for (int k = s; k < s + n; k++)
    if (m->p[k] != m->o[k]) return 1;
  return 0;
}

inline void get_min_adjmat(AdjMat* m, int part, AdjMat* min_m) {
  if (part == m->parts - 1) {
    do {
      if (compare_adjmat_parts(m, min_m, part) > 0) copy_adjmat_perm(m, min_m);
    } while (perm_next_adjmat(m, part));
    return;
  }
  if (m->v[m->p[m->part[part]]].d == 0) {
    get_min_adjmat(m, part + 1, min_m);
    return;
  }
  do {
    int c = compare_adjmat_parts(m, min_m, part);
    if (c >= 0) {
      if (c > 0) copy_adjmat_perm(m, min_m);
      get_min_adjmat(m, part + 1, min_m);
    }
  } while (perm_next_adjmat(m, part));
}

inline void fix_vertex(AdjMat* m, int rank, int* p, int* q, int* vp) {
  for (int i = 0; i < m->vs; i++) {
    p[i] = m->p[i];
    q[i] = m->q[i];
    vp[i] = m->v[i].part;
  }
  int hit = 0;
  for (int k = m->part[m->v[rank].part]; k < m->vs; k++) {
    if (m->p[k] == rank)
      hit = 1;
    else
      m->v[m->p[k]].part++;
  }
  check(hit);
  sort_adjmat_vertices(m);
  refine_partitions(m);
}

inline void release_vertex(AdjMat* m, int /*rank*/, int* /*p*/, int* /*q*/, int* vp) {
  for (int i = 0; i < m->vs; i++) m->v[i].part = vp[i];
  sort_adjmat_vertices(m);
  refine_partitions(m);
}

inline void get_min_adjmat_by_stabilizer(AdjMat* m, int part, int p_part, AdjMat* min_m) {
  if (m->parts == m->vs) {
    if (!Best_Is_Leaf) {
      copy_adjmat_perm(m, min_m);
      copy_adjmat_partitioning(m, min_m);
      Best_Is_Leaf = 1;
      return;
    }
    if (compare_adjmat_parts_from_to(m, min_m, p_part, part) > 0) {
      copy_adjmat_perm(m, min_m);
      copy_adjmat_partitioning(m, min_m);
    }
    return;
  }
  int* m_part = m->part;
  int m_vs = m->vs;
  check(m_part[part + 1] - m_part[part] > 1);
  int pindex = -1;
  for (int k = 0; k < m->parts; k++)
    if (m_part[k + 1] - m_part[k] > 1) {
      pindex = k;
      break;
    }
  check(pindex != -1);
  check(pindex == part);
  int* p = static_cast<int*>(std::malloc(sizeof(int) * m_vs));
  int* q = static_cast<int*>(std::malloc(sizeof(int) * m_vs));
  int* vp = static_cast<int*>(std::malloc(sizeof(int) * m_vs));
  for (int i = m->part[part]; i < m->part[part + 1]; i++) {
    fix_vertex(m, m->p[i], p, q, vp);
    check(m->parts <= m_vs);
    if (compare_adjmat_parts_from_to(m, min_m, 0, part) >= 0) {
      int next = -1;
      for (int k = part + 1; k < m->parts; k++)
        if (m->part[k + 1] - m->part[k] > 1) {
          next = k;
          break;
        }
      if (next == -1) next = m_vs - 1;
      get_min_adjmat_by_stabilizer(m, next, part, min_m);
    }
    release_vertex(m, m->p[i], p, q, vp);
  }
  std::free(p);
  std::free(q);
  std::free(vp);
}

inline void cl_canonicalize_adjmat(AdjMat* m, Graph* /*g*/) {
  Best_Is_Leaf = 0;
  refine_partitions(m);
  if (m->parts == m->vs) return;
  int max = 0;
  for (int k = 0; k < m->parts; k++)
    if (m->part[k + 1] - m->part[k] > max) max = m->part[k + 1] - m->part[k];
  Work_Matrix_Min->vs = m->vs;
  cl_copy_adjmat2(m, Work_Matrix_Min);
  if (max < Canonical_Labeling_Stabilizer_Threshold) {
    for (int i = 0; i < m->vs; i++) m->o[i] = m->p[i];
    get_min_adjmat(m, 0, Work_Matrix_Min);
  } else {
    int part = -1;
    for (int k = 0; k < m->parts; k++)
      if (m->part[k + 1] - m->part[k] > 1) {
        part = k;
        break;
      }
    check(part != -1);
    get_min_adjmat_by_stabilizer(m, part, 0, Work_Matrix_Min);
  }
  cl_copy_adjmat2(Work_Matrix_Min, m);
}

inline size_t graph_sizeof(int es, int vs) {
  return sizeof(Graph) + sizeof(int) * static_cast<size_t>(3 * es + 5 * vs + 1);
}

inline unsigned graph_hash_key(Graph* g) {
  unsigned char* buf = static_cast<unsigned char*>(std::malloc(4 * graph_sizeof(g->es, g->vs)));
  size_t len = 0;
  auto put = [&](int x) {
    unsigned u = static_cast<unsigned>(x);
    for (int b = 0; b < 4; b++) buf[len++] = static_cast<unsigned char>((u >> (8 * b)) & 0xff);
  };
  for (int i = 0; i < g->es; i++) put(g->e[i]);
  for (int i = 0; i <= g->vs; i++) put(g->v[i]);
  for (int i = 0; i < g->es; i++) put(g->el[i]);
  for (int i = 0; i < g->vs; i++) put(g->vl[i]);
  unsigned h = static_cast<unsigned>(len);
  for (size_t i = 0; i < len; i++) {
    int c = buf[i] > 127 ? static_cast<int>(buf[i]) - 256 : static_cast<int>(buf[i]);
    h = h ^ ((h << 5) + (h >> 3) + static_cast<unsigned>(c));
  }
  std::free(buf);
  return h;
}

inline void cl_canonicalize_graph(Graph* g) {
  if (Work_Matrix_Size < g->vs) cl_free_work_area();
  if (Work_Matrix == nullptr) {
    Work_Matrix_Size = g->vs;
    Work_Matrix = cl_alloc_adjmat(g->vs);
    Work_Matrix_Min = cl_alloc_adjmat(g->vs);
  }
  AdjMat* m = Work_Matrix;
  m->vs = g->vs;
  m->parts = 1;
  m->part[0] = 0;
  m->part[1] = m->vs;
  for (int i = 0; i < m->vs; i++) {
    m->v[i].rank = i;
    m->p[i] = m->q[i] = i;
    m->sorted_v[i] = &m->v[i];
    m->e[i] = m->buf + i * m->vs;
  }
  cl_graph_to_adjmat(g, m);
  sort_adjmat_vertices(m);
  cl_canonicalize_adjmat(m, g);
  cl_adjmat_to_graph(m, g);
  g->key = graph_hash_key(g);
}

}  // namespace literal

namespace {

using test_support::make_graph;

// A labelled graph (mostly a tree): vertex labels, bonds (a, b, edge label) and
// its shape for failure messages.
struct Tree {
  std::vector<int> vl;
  test_support::Bonds edges;
  std::string what;
  int n() const { return static_cast<int>(vl.size()); }
};

// Rooted encoding of a labelled tree; the least over all roots names its
// isomorphism class independently of any canonical labelling.
using Adj = std::vector<std::vector<std::pair<int, int>>>;
std::string encode(const Adj& adj, const Tree& t, int v, int parent) {
  std::vector<std::string> ch;
  for (auto [u, l] : adj[v])
    if (u != parent) ch.push_back("e" + std::to_string(l) + encode(adj, t, u, v));
  std::sort(ch.begin(), ch.end());
  std::string s = "(" + std::to_string(t.vl[v]) + ":";
  for (const auto& c : ch) s += c;
  return s + ")";
}

std::string tree_class(const Tree& t) {
  Adj adj(t.n());
  for (const auto& e : t.edges) {
    adj[e[0]].push_back({e[1], e[2]});
    adj[e[1]].push_back({e[0], e[2]});
  }
  std::string best = encode(adj, t, 0, -1);
  for (int r = 1; r < t.n(); ++r) best = std::min(best, encode(adj, t, r, -1));
  return best;
}

int pick(std::mt19937& rng, int n) { return static_cast<int>(rng() % n); }

Tree random_tree(std::mt19937& rng, int n, int vlabels, int elabels) {
  Tree t{{}, {}, "random"};
  for (int k = 1; k < n; ++k) t.edges.push_back({pick(rng, k), k, pick(rng, elabels)});
  for (int k = 0; k < n; ++k) t.vl.push_back(pick(rng, vlabels));
  return t;
}

// Vertex k + 1 hangs on parent[k]; all labels 0.
Tree from_parents(const std::string& what, const std::vector<int>& parent) {
  Tree t{std::vector<int>(parent.size() + 1, 0), {}, what};
  for (std::size_t k = 0; k < parent.size(); ++k) t.edges.push_back({parent[k], static_cast<int>(k) + 1, 0});
  return t;
}

Tree star(int leaves, int leaf_label = 0) {
  Tree t = from_parents("star" + std::to_string(leaves), std::vector<int>(leaves, 0));
  std::fill(t.vl.begin() + 1, t.vl.end(), leaf_label);
  return t;
}

// Two joined centres with `leaves` equal leaves each.
Tree double_star(int leaves) {
  std::vector<int> parent(1 + 2 * leaves, 0);
  std::fill(parent.begin() + 1 + leaves, parent.end(), 1);
  return from_parents("double_star" + std::to_string(leaves), parent);
}

// Centre with `legs` legs of `len` vertices each; one leg is a path.
Tree spider(int legs, int len) {
  std::vector<int> parent;
  for (int l = 0; l < legs; ++l)
    for (int k = 0; k < len; ++k) parent.push_back(k == 0 ? 0 : static_cast<int>(parent.size()));
  return from_parents("spider" + std::to_string(legs) + "x" + std::to_string(len), parent);
}

// A random tree with bunches of equal leaves hung on some vertices, so that
// refinement leaves large parts and the individualisation search runs.
Tree bushy_tree(std::mt19937& rng, int core, int extra, int vlabels, int elabels) {
  Tree t = random_tree(rng, core, vlabels, elabels);
  t.what = "bushy";
  const int leaf_label = pick(rng, vlabels);
  for (int k = 0; k < extra; ++k) {
    t.edges.push_back({pick(rng, std::min(core, 2)), t.n(), 0});
    t.vl.push_back(leaf_label);
  }
  return t;
}

bool has_edge(const Tree& t, int a, int b) {
  for (const auto& e : t.edges)
    if ((e[0] == a && e[1] == b) || (e[0] == b && e[1] == a)) return true;
  return false;
}

// A random connected graph with cycles: a random tree plus `extra` chords.
// Fragments are trees, where refinement already finds the orbits; on graphs with
// cycles it does not, so the search's visiting order and its comparisons show.
Tree random_cyclic(std::mt19937& rng, int n, int extra, int vlabels) {
  Tree t = random_tree(rng, n, vlabels, 1);
  t.what = "cyclic";
  for (int k = 0; k < extra; ++k) {
    const int a = pick(rng, n), b = pick(rng, n);
    if (a != b && !has_edge(t, a, b)) t.edges.push_back({a, b, pick(rng, 2)});
  }
  return t;
}

// Disjoint cycles of the given lengths: 2-regular, one part after refinement.
Tree cycles(const std::vector<int>& lengths) {
  Tree t{{}, {}, "cycles"};
  for (int len : lengths) {
    const int s = t.n();
    for (int k = 0; k < len; ++k) t.edges.push_back({s + k, s + (k + 1) % len, 0});
    t.vl.resize(s + len, 0);
    t.what += " " + std::to_string(len);
  }
  return t;
}

// A random 3-regular graph on n vertices (n even), by pairing half-edges until no
// loop or double edge is left.
Tree random_cubic(std::mt19937& rng, int n) {
  for (;;) {
    std::vector<int> ends;
    for (int a = 0; a < n; ++a) ends.insert(ends.end(), {a, a, a});
    std::shuffle(ends.begin(), ends.end(), rng);
    Tree t{std::vector<int>(n, 0), {}, "cubic"};
    bool ok = true;
    for (std::size_t k = 0; k < ends.size() && ok; k += 2) {
      ok = ends[k] != ends[k + 1] && !has_edge(t, ends[k], ends[k + 1]);
      t.edges.push_back({ends[k], ends[k + 1], 0});
    }
    if (ok) return t;
  }
}

// Regular graphs, which refinement leaves as one part: single and disjoint
// cycles (not every vertex alike), the cube, the Petersen graph.
std::vector<Tree> regular_graphs() {
  std::vector<Tree> ts;
  for (int n = 3; n <= 9; ++n) ts.push_back(cycles({n}));
  for (const auto& lengths : std::vector<std::vector<int>>{{3, 4}, {3, 5}, {4, 5}, {3, 3, 3}, {3, 6}, {4, 4}})
    ts.push_back(cycles(lengths));
  Tree cube{std::vector<int>(8, 0), {}, "cube"};
  for (int a = 0; a < 8; ++a)
    for (int bit = 1; bit < 8; bit <<= 1)
      if (a < (a ^ bit)) cube.edges.push_back({a, a ^ bit, 0});
  Tree pet{std::vector<int>(10, 0), {}, "petersen"};
  for (int k = 0; k < 5; ++k)
    for (const auto& e : test_support::Bonds{{k, (k + 1) % 5, 0}, {k, k + 5, 0}, {k + 5, 5 + (k + 2) % 5, 0}})
      pet.edges.push_back(e);
  ts.push_back(cube);
  ts.push_back(pet);
  return ts;
}

std::string describe(const Tree& t) {
  std::string s = t.what + " vl";
  for (int l : t.vl) s += " " + std::to_string(l);
  s += " edges";
  for (const auto& e : t.edges)
    s += " " + std::to_string(e[0]) + "-" + std::to_string(e[1]) + ":" + std::to_string(e[2]);
  return s;
}

std::vector<int> shuffled(std::mt19937& rng, int n) {
  std::vector<int> p(n);
  std::iota(p.begin(), p.end(), 0);
  std::shuffle(p.begin(), p.end(), rng);
  return p;
}

// The trees of the invariance test: random shapes of 2 to 8 vertices with 1 to 3
// vertex labels and 1 to 2 edge labels, and the highly symmetric shapes.
std::vector<Tree> invariance_trees() {
  std::mt19937 rng(20240611);
  std::vector<Tree> ts;
  for (int k = 0; k < 400; ++k) {
    const int n = 2 + pick(rng, 7);
    ts.push_back(random_tree(rng, n, 1 + pick(rng, 3), 1 + pick(rng, 2)));
  }
  for (int k = 0; k < 60; ++k)
    ts.push_back(bushy_tree(rng, 2 + pick(rng, 3), 4 + pick(rng, 3), 1 + pick(rng, 2), 1 + pick(rng, 2)));
  for (int leaves = 1; leaves <= 7; ++leaves) ts.push_back(star(leaves));
  ts.push_back(star(6, 1));
  ts.push_back(star(5, 2));
  for (int leaves = 1; leaves <= 3; ++leaves) ts.push_back(double_star(leaves));
  for (int n = 1; n <= 7; ++n) ts.push_back(spider(1, n));  // paths of 2 to 8 vertices
  ts.push_back(spider(3, 2));
  ts.push_back(spider(2, 3));
  return ts;
}

}  // namespace

// Renumbering a tree never changes its canonical graph or key.
TEST(CanonProperty, RenumberingKeepsCanonicalGraph) {
  test_support::SettingsGuard guard;
  std::mt19937 rng(7);
  for (const Tree& t : invariance_trees()) {
    SCOPED_TRACE(describe(t));
    Graph ref = make_graph(t.vl, t.edges);
    cl_canonicalize_graph(ref);
    for (int r = 0; r < 40; ++r) {
      Graph g = make_graph(t.vl, t.edges, shuffled(rng, t.n()));
      cl_canonicalize_graph(g);
      ASSERT_EQ(ref.v, g.v);
      ASSERT_EQ(ref.e, g.e);
      ASSERT_EQ(ref.el, g.el);
      ASSERT_EQ(ref.vl, g.vl);
      ASSERT_EQ(ref.key, g.key);
      ASSERT_EQ(graph_compare(ref, g), 0);
    }
  }
}

// Canonical graphs are equal exactly when the trees are isomorphic, judged by an
// independent rooted-tree encoding.
TEST(CanonProperty, CompareMatchesIsomorphism) {
  test_support::SettingsGuard guard;
  std::mt19937 rng(11);
  std::vector<Tree> ts = invariance_trees();
  std::vector<Graph> gs;
  std::vector<std::string> cls;
  for (const Tree& t : ts) {
    gs.push_back(make_graph(t.vl, t.edges, shuffled(rng, t.n())));
    cl_canonicalize_graph(gs.back());
    cls.push_back(tree_class(t));
  }
  for (std::size_t i = 0; i < gs.size(); ++i)
    for (std::size_t j = i + 1; j < gs.size(); ++j) {
      const int c = graph_compare(gs[i], gs[j]);
      EXPECT_EQ(c == 0, cls[i] == cls[j]) << cls[i] << " vs " << cls[j];
      EXPECT_EQ(c == 0, graph_compare(gs[j], gs[i]) == 0);
    }
}

// The fast labelling and the literal one agree on every field, on trees of 2 to
// 9 vertices, bushy trees, some of 12 and graphs with cycles, in an order that
// makes the work area grow and be reused at smaller sizes.
TEST(CanonLiteral, FastMatchesLiteral) {
  test_support::SettingsGuard guard;
  std::mt19937 rng(12345);
  std::vector<Tree> ts;
  for (int k = 0; k < 3000; ++k) {
    const int n = 2 + pick(rng, 8);
    ts.push_back(random_tree(rng, n, 1 + pick(rng, 3), 1 + pick(rng, 2)));
  }
  for (int k = 0; k < 150; ++k)
    ts.push_back(bushy_tree(rng, 2 + pick(rng, 4), 4 + pick(rng, 4), 1 + pick(rng, 2), 1 + pick(rng, 2)));
  for (int k = 0; k < 100; ++k) ts.push_back(random_tree(rng, 12, 1 + pick(rng, 2), 1));
  for (const Tree& t : {spider(5, 2), spider(4, 2), double_star(4), star(8)}) ts.push_back(t);
  for (int k = 0; k < 400; ++k) {
    const int n = 4 + pick(rng, 6);
    ts.push_back(random_cyclic(rng, n, 1 + pick(rng, 4), 1 + pick(rng, 2)));
  }
  for (const Tree& t : regular_graphs()) ts.push_back(t);
  for (int k = 0; k < 40; ++k) ts.push_back(random_cubic(rng, 8 + 2 * pick(rng, 2)));
  std::shuffle(ts.begin(), ts.end(), rng);
  for (const Tree& t : ts) {
    SCOPED_TRACE(describe(t));
    for (int r = 0; r < 3; ++r) {
      Graph a = make_graph(t.vl, t.edges, shuffled(rng, t.n()));
      Graph b = a;
      cl_canonicalize_graph(a);
      literal::cl_canonicalize_graph(&b);
      ASSERT_EQ(a.v, b.v);
      ASSERT_EQ(a.e, b.e);
      ASSERT_EQ(a.el, b.el);
      ASSERT_EQ(a.vl, b.vl);
      ASSERT_EQ(a.vid, b.vid);
      ASSERT_EQ(a.p, b.p);
      ASSERT_EQ(a.ps, b.ps);
      ASSERT_EQ(a.key, b.key);
    }
  }
  literal::cl_free_work_area();
}
