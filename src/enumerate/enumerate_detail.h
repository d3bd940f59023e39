// Internals of the fragment enumeration that tests reach: the working edge list of
// a compound, the bond-set enumeration as a template over its consumer, and the
// materialisation of one bond set as a fragment graph.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver/generate_all_trees_freq.h"

// One bond of the working edge list, or one entry of a bond set: endpoints as node
// numbers (compound vertex index + 1), u < v.
struct Edge {
  int u = 0;
  int v = 0;
};

// Scratch of the bond-set enumeration. Grows to the largest compound and length
// seen and is reused for every compound; nothing in it survives a call's meaning.
struct EnumWork {
  int nv = 0;  // compound vertices
  int ne = 0;  // bonds
  // Bond k, in working order: ascending lower endpoint, then ascending higher one.
  // Affects output: this order decides which bond the enumeration takes next.
  std::vector<Edge> edge;
  // Incidence lists: the bonds of compound vertex x are inc_edge/inc_other
  // [inc_off[x], inc_off[x+1]) (bond index, vertex at the other end); any order.
  std::vector<int> inc_off;
  std::vector<int> inc_edge;
  std::vector<int> inc_other;
  std::vector<int> comp;          // connected-part representative per vertex
  std::vector<int> comp_left;     // per representative: its bonds not yet a start bond
  int max_part = 0;               // bonds of the largest connected part
  std::vector<unsigned char> in_frag;  // 1 for vertices of the fragment being grown
  std::vector<int> added;         // per depth: the vertex the include step added
  // Candidate bonds per depth, one bit per bond, `words` words per depth: the bonds
  // that are still undecided on this path, touch the fragment and do not join two
  // fragment vertices (such a bond would close a cycle).
  std::vector<std::uint64_t> cand;
  int words = 0;
  std::vector<Edge> set;  // the bond set on the current path, in order of inclusion
};

// Fills w.edge, the incidence lists and the connected parts from compound G, whose
// vid must be the identity and whose adjacency lists must be symmetric, sorted, and
// free of self-loops and repeated pairs (what the edge-list packing produces).
void load_working_edges(const Graph& G, EnumWork& w);

// Calls emit(const Edge* edges, int n) once for every connected acyclic set of
// exactly `threshold` bonds of G (a threshold below 1 acts as 1), each set listing
// its bonds in order of inclusion. Allocates nothing once w has grown.
// Affects output: sets come depth-first; at every step the bond taken is the
// lowest-index undecided bond that touches the fragment (any undecided bond while
// the fragment is empty); the branch that includes it runs before the branch that
// excludes it for good. Fragment ids and occurrence-list order follow this order.
template <class Emit>
void enumerate_bond_sets(const Graph& G, int threshold, EnumWork& w, Emit&& emit) {
  load_working_edges(G, w);
  const int m = w.ne;
  const int t = threshold < 1 ? 1 : threshold;
  if (t > w.max_part) return;  // no part holds that many bonds
  const int W = (m + 63) / 64;
  w.words = W;
  // Depth d (1 .. t-1) holds the candidates of a fragment of d bonds.
  if (w.cand.size() < static_cast<std::size_t>(t) * W) w.cand.resize(static_cast<std::size_t>(t) * W);
  if (w.set.size() < static_cast<std::size_t>(t)) w.set.resize(t);
  if (w.added.size() < static_cast<std::size_t>(t)) w.added.resize(t);
  std::uint64_t* cand = w.cand.data();
  Edge* set = w.set.data();
  unsigned char* in_frag = w.in_frag.data();
  const int* inc_off = w.inc_off.data();
  const int* inc_edge = w.inc_edge.data();
  const int* inc_other = w.inc_other.data();

  for (int k = 0; k < m; ++k) {
    const Edge first = w.edge[k];
    // Every fragment grown from start bond k uses bonds k.. of k's part only;
    // bonds below k were excluded by the start chain.
    int& left = w.comp_left[w.comp[first.u - 1]];
    const bool reachable = left >= t;
    --left;
    if (!reachable) continue;
    set[0] = first;
    if (t == 1) {
      emit(static_cast<const Edge*>(set), 1);
      continue;
    }
    const int a = first.u - 1;
    const int b = first.v - 1;
    in_frag[a] = 1;
    in_frag[b] = 1;
    std::uint64_t* c1 = cand + W;
    for (int q = 0; q < W; ++q) c1[q] = 0;
    for (int x : {a, b}) {
      for (int j = inc_off[x]; j < inc_off[x + 1]; ++j) {
        const int id = inc_edge[j];
        if (id > k && !in_frag[inc_other[j]]) c1[id >> 6] |= std::uint64_t{1} << (id & 63);
      }
    }
    const int low_word = k >> 6;  // no candidate ever lies below bond k
    int d = 1;
    while (d >= 1) {
      std::uint64_t* cd = cand + static_cast<std::size_t>(d) * W;
      int q = low_word;
      while (q < W && cd[q] == 0) ++q;
      if (q == W) {
        // Nothing left to decide at this depth: back to the parent's exclude branch.
        --d;
        if (d >= 1) in_frag[w.added[d]] = 0;
        continue;
      }
      // Affects output: lowest index first.
      const int i = (q << 6) + std::countr_zero(cd[q]);
      cd[q] &= cd[q] - 1;  // decided here: the exclude branch resumes without it
      const Edge e = w.edge[i];
      const int y = in_frag[e.u - 1] ? e.v - 1 : e.u - 1;
      set[d] = e;
      if (d + 1 >= t) {
        emit(static_cast<const Edge*>(set), d + 1);
        continue;
      }
      // Include branch: y joins; its bonds to the fragment would close cycles, its
      // bonds to outside vertices become candidates unless the start chain took them.
      std::uint64_t* cn = cd + W;
      for (int r = 0; r < W; ++r) cn[r] = cd[r];
      in_frag[y] = 1;
      for (int j = inc_off[y]; j < inc_off[y + 1]; ++j) {
        const int id = inc_edge[j];
        const std::uint64_t bit = std::uint64_t{1} << (id & 63);
        if (id > k && !in_frag[inc_other[j]])
          cn[id >> 6] |= bit;
        else
          cn[id >> 6] &= ~bit;
      }
      w.added[d] = y;
      ++d;
    }
    in_frag[a] = 0;
    in_frag[b] = 0;
  }
}

// Scratch of the materialisation, grown to the largest compound and set seen.
struct FragWork {
  std::vector<int> map;      // compound vertex -> fragment vertex; -1 between calls
  std::vector<int> touched;  // compound vertices of the set
  std::vector<int> fill;     // next free adjacency position per fragment vertex
};

// Label of the bond joining the endpoints of s, read from the adjacency list of
// its lower-numbered endpoint in G (the first entry naming either endpoint).
int find_label(const Edge& s, const Graph& G);

// Makes g the fragment graph of the n bonds s (n >= 1) of compound G: fragment
// vertices in ascending compound vertex order, vid the identity, vl from G, each
// bond in both directions labelled by find_label, adjacency lists sorted by
// (neighbour, label) as the edge-list packing gives them; p sized vs, ps and key
// left alone. Ends the run with the duplicated-edges message when two bonds of s
// join the same pair. g's arrays keep their capacity between calls.
void create_graph_from_set(const Edge* s, int n, const Graph& G, FragWork& fw, Graph& g);

// True when some vertex of g has three or more neighbours.
bool fragment_is_branched(const Graph& g);

// Whether fragment g is of type opt (1 all, 2 branched, 3 unbranched); any other
// opt ends the run with "Option not valid\n".
bool fragment_passes(const Graph& g, int opt);

// Releases the module's enumeration and materialisation scratch.
void enumerate_free_work_area();
