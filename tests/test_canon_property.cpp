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
  int id;
  int d;
  int l;
  int rank;
  int part;
  int npart;
  Neighbor* n;
};
struct AdjMat {
  int size;
  int vs;
  Vertex* v;
  Vertex** sorted_v;
  int* buf;
  int** e;
  int* part;
  int parts;
  int* npart;
  int nparts;
  int* o;
  int* p;
  int* q;
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
    dst->v[i].id = src->v[i].id;
    dst->v[i].d = src->v[i].d;
    dst->v[i].l = src->v[i].l;
    dst->v[i].rank = src->v[i].rank;
    dst->v[i].part = src->v[i].part;
    dst->v[i].npart = src->v[i].npart;
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
  int src_vs = src->vs, dst_vs = dst->vs;
  check(src_vs == dst_vs);
  for (int i = 0; i < src_vs; i++) {
    dst->p[i] = src->p[i];
    dst->q[i] = src->q[i];
  }
}

inline void copy_adjmat_partitioning(AdjMat* src, AdjMat* dst) {
  int src_vs = src->vs, dst_vs = dst->vs;
  check(src_vs == dst_vs);
  for (int i = 0; i < src_vs; i++) dst->v[i].part = src->v[i].part;
  for (int i = 0; i <= src_vs; i++) dst->part[i] = src->part[i];
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
      if (c != k) {
        Neighbor t = x->n[k];
        x->n[k] = x->n[c];
        x->n[c] = t;
      }
    }
  }
  for (int k = 0; k < m->vs; k++) {
    int c = k;
    for (int j = k + 1; j < m->vs; j++)
      if (compare_vertices(&m->sorted_v[j], &m->sorted_v[c]) < 0) c = j;
    if (c != k) {
      Vertex* t = m->sorted_v[k];
      m->sorted_v[k] = m->sorted_v[c];
      m->sorted_v[c] = t;
    }
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
  int t = a[i];
  a[i] = a[j];
  a[j] = t;
  for (int l = i + 1, r = n - 1; l < r; l++, r--) {
    t = a[l];
    a[l] = a[r];
    a[r] = t;
  }
  return 1;
}

inline int perm_next_adjmat(AdjMat* m, int part) {
  int s = m->part[part];
  int n = m->part[part + 1] - s;
  if (n == 1) return 0;
  if (!next_perm(m->p + s, n)) {
    for (int i = 1; i < n; i++)
      for (int j = i; j > 0 && m->p[s + j - 1] > m->p[s + j]; j--) {
        int t = m->p[s + j];
        m->p[s + j] = m->p[s + j - 1];
        m->p[s + j - 1] = t;
      }
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

inline void release_vertex(AdjMat* m, int rank, int* p, int* q, int* vp) {
  (void)rank;
  (void)p;
  (void)q;
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

inline void cl_canonicalize_adjmat(AdjMat* m, Graph* g) {
  (void)g;
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

// A labelled tree: edges (a, b, edge label) and one label per vertex.
struct Tree {
  int n = 0;
  std::vector<std::array<int, 3>> edges;
  std::vector<int> vl;
  std::string what;  // shape, for failure messages
};

// Builds the graph the way fragments are built: vertex perm[i] of the graph is
// tree vertex i, adjacency lists sorted by neighbour, both directions, vid[k] = k,
// p sized vs.
Graph make_graph(const Tree& t, const std::vector<int>& perm) {
  std::vector<std::vector<std::pair<int, int>>> adj(t.n);
  for (const auto& e : t.edges) {
    adj[perm[e[0]]].push_back({perm[e[1]], e[2]});
    adj[perm[e[1]]].push_back({perm[e[0]], e[2]});
  }
  Graph g;
  g.vs = t.n;
  g.es = 2 * static_cast<int>(t.edges.size());
  g.vl.resize(t.n);
  for (int i = 0; i < t.n; ++i) g.vl[perm[i]] = t.vl[i];
  g.v.push_back(0);
  for (int i = 0; i < t.n; ++i) {
    std::sort(adj[i].begin(), adj[i].end());
    for (auto [u, l] : adj[i]) {
      g.e.push_back(u);
      g.el.push_back(l);
    }
    g.v.push_back(static_cast<int>(g.e.size()));
    g.vid.push_back(i);
  }
  g.p.assign(t.n, 0);
  return g;
}

std::vector<int> identity(int n) {
  std::vector<int> p(n);
  std::iota(p.begin(), p.end(), 0);
  return p;
}

// Rooted encoding of a labelled tree; the least over all roots names its
// isomorphism class independently of any canonical labelling.
std::string encode(const std::vector<std::vector<std::pair<int, int>>>& adj, const Tree& t, int v,
                   int parent) {
  std::vector<std::string> ch;
  for (auto [u, l] : adj[v])
    if (u != parent) ch.push_back("e" + std::to_string(l) + encode(adj, t, u, v));
  std::sort(ch.begin(), ch.end());
  std::string s = "(" + std::to_string(t.vl[v]) + ":";
  for (const auto& c : ch) s += c;
  return s + ")";
}

std::string tree_class(const Tree& t) {
  std::vector<std::vector<std::pair<int, int>>> adj(t.n);
  for (const auto& e : t.edges) {
    adj[e[0]].push_back({e[1], e[2]});
    adj[e[1]].push_back({e[0], e[2]});
  }
  std::string best;
  for (int r = 0; r < t.n; ++r) {
    std::string s = encode(adj, t, r, -1);
    if (r == 0 || s < best) best = s;
  }
  return best;
}

Tree random_tree(std::mt19937& rng, int n, int vlabels, int elabels) {
  Tree t;
  t.n = n;
  t.what = "random";
  for (int k = 1; k < n; ++k)
    t.edges.push_back({static_cast<int>(rng() % k), k, static_cast<int>(rng() % elabels)});
  for (int k = 0; k < n; ++k) t.vl.push_back(static_cast<int>(rng() % vlabels));
  return t;
}

// Centre 0 with `leaves` leaves, all labels equal.
Tree star(int leaves, int leaf_label = 0) {
  Tree t;
  t.n = leaves + 1;
  t.what = "star" + std::to_string(leaves);
  t.vl.assign(t.n, 0);
  for (int k = 1; k <= leaves; ++k) {
    t.edges.push_back({0, k, 0});
    t.vl[k] = leaf_label;
  }
  return t;
}

// Two joined centres with `leaves` equal leaves each.
Tree double_star(int leaves) {
  Tree t;
  t.n = 2 + 2 * leaves;
  t.what = "double_star" + std::to_string(leaves);
  t.vl.assign(t.n, 0);
  t.edges.push_back({0, 1, 0});
  for (int k = 0; k < leaves; ++k) {
    t.edges.push_back({0, 2 + k, 0});
    t.edges.push_back({1, 2 + leaves + k, 0});
  }
  return t;
}

Tree path(int n, int label = 0) {
  Tree t;
  t.n = n;
  t.what = "path" + std::to_string(n);
  t.vl.assign(n, label);
  for (int k = 1; k < n; ++k) t.edges.push_back({k - 1, k, 0});
  return t;
}

// Centre with `legs` legs of `len` vertices each.
Tree spider(int legs, int len) {
  Tree t;
  t.n = 1 + legs * len;
  t.what = "spider" + std::to_string(legs) + "x" + std::to_string(len);
  t.vl.assign(t.n, 0);
  int next = 1;
  for (int l = 0; l < legs; ++l) {
    int prev = 0;
    for (int k = 0; k < len; ++k) {
      t.edges.push_back({prev, next, 0});
      prev = next++;
    }
  }
  return t;
}

// A random tree with bunches of equal leaves hung on some vertices, so that
// refinement leaves large parts and the individualisation search runs.
Tree bushy_tree(std::mt19937& rng, int core, int extra, int vlabels, int elabels) {
  Tree t = random_tree(rng, core, vlabels, elabels);
  t.what = "bushy";
  const int leaf_label = static_cast<int>(rng() % vlabels);
  for (int k = 0; k < extra; ++k) {
    const int at = static_cast<int>(rng() % std::min(core, 2));
    t.edges.push_back({at, t.n++, 0});
    t.vl.push_back(leaf_label);
  }
  return t;
}

// A random connected graph with cycles: a random tree plus `extra` chords.
// Fragments are trees, where refinement already finds the orbits; on graphs with
// cycles it does not, so the search's visiting order and its comparisons show.
Tree random_cyclic(std::mt19937& rng, int n, int extra, int vlabels) {
  Tree t = random_tree(rng, n, vlabels, 1);
  t.what = "cyclic";
  for (int k = 0; k < extra; ++k) {
    const int a = static_cast<int>(rng() % n);
    const int b = static_cast<int>(rng() % n);
    bool dup = a == b;
    for (const auto& e : t.edges) dup = dup || (e[0] == a && e[1] == b) || (e[0] == b && e[1] == a);
    if (!dup) t.edges.push_back({a, b, static_cast<int>(rng() % 2)});
  }
  return t;
}

// Regular graphs, which refinement leaves as one part: cycles, the cube and the
// Petersen graph.
std::vector<Tree> regular_graphs() {
  std::vector<Tree> ts;
  for (int n = 3; n <= 9; ++n) {
    Tree t = path(n);
    t.what = "cycle" + std::to_string(n);
    t.edges.push_back({n - 1, 0, 0});
    ts.push_back(t);
  }
  Tree cube;
  cube.n = 8;
  cube.what = "cube";
  cube.vl.assign(8, 0);
  for (int a = 0; a < 8; ++a)
    for (int bit = 1; bit < 8; bit <<= 1)
      if (a < (a ^ bit)) cube.edges.push_back({a, a ^ bit, 0});
  ts.push_back(cube);
  Tree pet;
  pet.n = 10;
  pet.what = "petersen";
  pet.vl.assign(10, 0);
  for (int k = 0; k < 5; ++k) {
    pet.edges.push_back({k, (k + 1) % 5, 0});
    pet.edges.push_back({k, k + 5, 0});
    pet.edges.push_back({k + 5, 5 + (k + 2) % 5, 0});
  }
  ts.push_back(pet);
  return ts;
}

// Disjoint cycles of the given lengths: 2-regular, one part, but not every vertex
// alike, so the search meets vertices of one part that are not interchangeable.
Tree cycles(const std::vector<int>& lengths) {
  Tree t;
  t.what = "cycles";
  for (int len : lengths) {
    const int s = t.n;
    for (int k = 0; k < len; ++k) t.edges.push_back({s + k, s + (k + 1) % len, 0});
    t.n += len;
    t.what += " " + std::to_string(len);
  }
  t.vl.assign(t.n, 0);
  return t;
}

// A random 3-regular graph on n vertices (n even), by pairing half-edges until no
// loop or double edge is left.
Tree random_cubic(std::mt19937& rng, int n) {
  for (;;) {
    std::vector<int> ends;
    for (int a = 0; a < n; ++a) ends.insert(ends.end(), {a, a, a});
    std::shuffle(ends.begin(), ends.end(), rng);
    Tree t;
    t.n = n;
    t.what = "cubic";
    t.vl.assign(n, 0);
    bool ok = true;
    for (std::size_t k = 0; k < ends.size() && ok; k += 2) {
      const int a = ends[k], b = ends[k + 1];
      ok = a != b;
      for (const auto& e : t.edges) ok = ok && !((e[0] == a && e[1] == b) || (e[0] == b && e[1] == a));
      t.edges.push_back({a, b, 0});
    }
    if (ok) return t;
  }
}

// Shape, edges and labels, for failure messages.
std::string describe(const Tree& t) {
  std::string s = t.what + " vl";
  for (int l : t.vl) s += " " + std::to_string(l);
  s += " edges";
  for (const auto& e : t.edges)
    s += " " + std::to_string(e[0]) + "-" + std::to_string(e[1]) + ":" + std::to_string(e[2]);
  return s;
}

std::vector<int> shuffled(std::mt19937& rng, int n) {
  std::vector<int> p = identity(n);
  std::shuffle(p.begin(), p.end(), rng);
  return p;
}

void expect_same_canonical(const Graph& a, const Graph& b, const std::string& what) {
  EXPECT_EQ(a.v, b.v) << what;
  EXPECT_EQ(a.e, b.e) << what;
  EXPECT_EQ(a.el, b.el) << what;
  EXPECT_EQ(a.vl, b.vl) << what;
  EXPECT_EQ(a.key, b.key) << what;
  EXPECT_EQ(graph_compare(a, b), 0) << what;
}

// The trees of the invariance test: random shapes of 2 to 8 vertices with 1 to 3
// vertex labels and 1 to 2 edge labels, and the highly symmetric shapes.
std::vector<Tree> invariance_trees() {
  std::mt19937 rng(20240611);
  std::vector<Tree> ts;
  for (int k = 0; k < 400; ++k) {
    const int n = 2 + static_cast<int>(rng() % 7);
    ts.push_back(random_tree(rng, n, 1 + static_cast<int>(rng() % 3), 1 + static_cast<int>(rng() % 2)));
  }
  for (int k = 0; k < 60; ++k)
    ts.push_back(bushy_tree(rng, 2 + static_cast<int>(rng() % 3), 4 + static_cast<int>(rng() % 3),
                            1 + static_cast<int>(rng() % 2), 1 + static_cast<int>(rng() % 2)));
  for (int leaves = 1; leaves <= 7; ++leaves) ts.push_back(star(leaves));
  ts.push_back(star(6, 1));
  ts.push_back(star(5, 2));
  for (int leaves = 1; leaves <= 3; ++leaves) ts.push_back(double_star(leaves));
  for (int n = 2; n <= 8; ++n) ts.push_back(path(n));
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
    Graph ref = make_graph(t, identity(t.n));
    cl_canonicalize_graph(ref);
    for (int r = 0; r < 40; ++r) {
      Graph g = make_graph(t, shuffled(rng, t.n));
      cl_canonicalize_graph(g);
      expect_same_canonical(ref, g, describe(t));
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
    gs.push_back(make_graph(t, shuffled(rng, t.n)));
    cl_canonicalize_graph(gs.back());
    cls.push_back(tree_class(t));
  }
  for (std::size_t i = 0; i < gs.size(); ++i)
    for (std::size_t j = i + 1; j < gs.size(); ++j) {
      const int c = graph_compare(gs[i], gs[j]);
      if (cls[i] == cls[j])
        EXPECT_EQ(c, 0) << cls[i];
      else
        EXPECT_NE(c, 0) << cls[i] << " vs " << cls[j];
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
    const int n = 2 + static_cast<int>(rng() % 8);
    ts.push_back(random_tree(rng, n, 1 + static_cast<int>(rng() % 3), 1 + static_cast<int>(rng() % 2)));
  }
  for (int k = 0; k < 150; ++k)
    ts.push_back(bushy_tree(rng, 2 + static_cast<int>(rng() % 4), 4 + static_cast<int>(rng() % 4),
                            1 + static_cast<int>(rng() % 2), 1 + static_cast<int>(rng() % 2)));
  for (int k = 0; k < 100; ++k) ts.push_back(random_tree(rng, 12, 1 + static_cast<int>(rng() % 2), 1));
  ts.push_back(spider(5, 2));
  ts.push_back(spider(4, 2));
  ts.push_back(double_star(4));
  ts.push_back(star(8));
  for (int k = 0; k < 400; ++k) {
    const int n = 4 + static_cast<int>(rng() % 6);
    ts.push_back(random_cyclic(rng, n, 1 + static_cast<int>(rng() % 4), 1 + static_cast<int>(rng() % 2)));
  }
  for (const Tree& t : regular_graphs()) ts.push_back(t);
  for (const auto& lengths : std::vector<std::vector<int>>{{3, 4}, {3, 5}, {4, 5}, {3, 3, 3}, {3, 6}, {4, 4}})
    ts.push_back(cycles(lengths));
  for (int k = 0; k < 40; ++k) ts.push_back(random_cubic(rng, 8 + 2 * static_cast<int>(rng() % 2)));
  std::shuffle(ts.begin(), ts.end(), rng);
  for (const Tree& t : ts) {
    for (int r = 0; r < 3; ++r) {
      Graph a = make_graph(t, shuffled(rng, t.n));
      Graph b = a;
      cl_canonicalize_graph(a);
      literal::cl_canonicalize_graph(&b);
      const std::string what = describe(t);
      ASSERT_EQ(a.v, b.v) << what;
      ASSERT_EQ(a.e, b.e) << what;
      ASSERT_EQ(a.el, b.el) << what;
      ASSERT_EQ(a.vl, b.vl) << what;
      ASSERT_EQ(a.vid, b.vid) << what;
      ASSERT_EQ(a.p, b.p) << what;
      ASSERT_EQ(a.ps, b.ps) << what;
      ASSERT_EQ(a.key, b.key) << what;
    }
  }
  literal::cl_free_work_area();
}
