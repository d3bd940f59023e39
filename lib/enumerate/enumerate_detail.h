// Internals of the fragment enumeration that tests reach: the working edge list of
// a compound, the bond-set enumeration as a template over its consumer, and the
// materialisation of one bond set as a fragment graph.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/common.h"

namespace sarvik {

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
  // Bond k < ne, in working order: ascending lower endpoint, then ascending higher
  // one. Affects output: this order decides which bond the enumeration takes next.
  std::vector<Edge> edge;
  // For more than 64 bonds, incidence lists: the bonds of compound vertex x are
  // inc_edge/inc_other [inc_off[x], inc_off[x+1]) (bond index, vertex at the
  // other end); any order.
  std::vector<int> inc_off;
  std::vector<int> inc_edge;
  std::vector<int> inc_other;
  std::vector<int> label;         // per bond k < ne: its label, as find_label gives it
  std::vector<int> comp;          // connected-part representative per vertex
  std::vector<int> comp_left;     // per representative: its bonds not yet a start bond
  int max_part = 0;               // bonds of the largest connected part
  // Per compound vertex: 0 outside the fragment being grown, else 1 + its place
  // in the fragment's order of joining (the start bond's ends are 0 and 1).
  std::vector<int> at;
  std::vector<int> added;         // per depth: the vertex the include step added
  std::vector<int> attach;        // per depth: the fragment vertex it was tied to
  std::vector<int> degree;        // per compound vertex: its bonds in the fragment
  // Candidate bonds per depth, one bit per bond, `words` words per depth: the bonds
  // that are still undecided on this path, touch the fragment and do not join two
  // fragment vertices (such a bond would close a cycle).
  std::vector<std::uint64_t> cand;
  int words = 0;
  // For compounds of at most 64 bonds: per vertex its bonds as one bit mask, and
  // per depth the bonds touching the fragment.
  std::vector<std::uint64_t> inc_mask;
  std::vector<std::uint64_t> touch;
  std::vector<Edge> set;  // the bond set on the current path, in order of inclusion
};

// Fills w.edge, w.label, the incidence masks (64 bonds or fewer) or lists (more)
// and the connected parts from compound G, whose vid must be the identity and
// whose adjacency lists must be symmetric, sorted, and free of self-loops and
// repeated pairs (what the edge-list packing produces).
void load_working_edges(const Graph& G, EnumWork& w);

// Candidate bonds per depth for compounds of at most 64 bonds, one word each. A
// new vertex y drops the candidates it closes a cycle with and adds its bonds to
// outside vertices above the start bond.
struct OneWordCandidates {
  std::uint64_t* cand;         // per depth
  std::uint64_t* touch;        // per depth: the bonds touching the fragment
  const std::uint64_t* inc;    // per vertex: its bonds
  std::uint64_t above = 0;     // the bonds above the start bond

  void start(int k, int a, int b) {
    above = k == 63 ? 0 : ~std::uint64_t{0} << (k + 1);
    touch[1] = inc[a] | inc[b];
    cand[1] = touch[1] & above;
  }
  // The lowest candidate at depth d, taken out of it; -1 when none is left.
  int take(int d) {
    const std::uint64_t cd = cand[d];
    if (cd == 0) return -1;
    cand[d] = cd & (cd - 1);
    return std::countr_zero(cd);
  }
  void include(int d, int y) {
    const std::uint64_t iy = inc[y];
    cand[d + 1] = (cand[d] & ~iy) | (iy & ~touch[d] & above);
    touch[d + 1] = touch[d] | iy;
  }
};

// Candidate bonds per depth as `words` words each, from the incidence lists.
struct WordCandidates {
  std::uint64_t* cand;  // per depth, `words` words each
  int words;
  const int* inc_off;
  const int* inc_edge;
  const int* inc_other;
  const int* at;
  int k = 0;         // the start bond
  int low_word = 0;  // no candidate ever lies below bond k

  void start(int start_bond, int a, int b) {
    k = start_bond;
    low_word = k >> 6;
    std::uint64_t* c1 = cand + words;
    for (int q = 0; q < words; ++q) c1[q] = 0;
    for (int x : {a, b}) {
      for (int j = inc_off[x]; j < inc_off[x + 1]; ++j) {
        const int id = inc_edge[j];
        if (id > k && !at[inc_other[j]]) c1[id >> 6] |= std::uint64_t{1} << (id & 63);
      }
    }
  }
  int take(int d) {
    std::uint64_t* cd = cand + static_cast<std::size_t>(d) * words;
    int q = low_word;
    while (q < words && cd[q] == 0) ++q;
    if (q == words) return -1;
    const int i = (q << 6) + std::countr_zero(cd[q]);
    cd[q] &= cd[q] - 1;
    return i;
  }
  // y has joined (at[y] is set): its bonds to the fragment would close cycles, its
  // bonds to outside vertices become candidates unless the start chain took them.
  void include(int d, int y) {
    const std::uint64_t* cd = cand + static_cast<std::size_t>(d) * words;
    std::uint64_t* cn = cand + static_cast<std::size_t>(d + 1) * words;
    for (int r = 0; r < words; ++r) cn[r] = cd[r];
    for (int j = inc_off[y]; j < inc_off[y + 1]; ++j) {
      const int id = inc_edge[j];
      const std::uint64_t bit = std::uint64_t{1} << (id & 63);
      if (id > k && !at[inc_other[j]])
        cn[id >> 6] |= bit;
      else
        cn[id >> 6] &= ~bit;
    }
  }
};

// The search of enumerate_bond_sets over one kind of candidate sets. With
// paths_only, a bond that would give a fragment vertex a third bond is not taken:
// every set grown from such a set branches too, so only branched sets are left
// out, and the others come as before.
template <bool paths_only, class Candidates, class Visitor>
void grow_bond_sets(EnumWork& w, int t, Candidates& c, Visitor& vis) {
  Edge* set = w.set.data();
  int* at = w.at.data();
  int* degree = w.degree.data();
  for (int k = 0; k < w.ne; ++k) {
    const Edge first = w.edge[k];
    // Every fragment grown from start bond k uses bonds k.. of k's part only;
    // bonds below k were excluded by the start chain.
    int& left = w.comp_left[w.comp[first.u - 1]];
    const bool reachable = left >= t;
    --left;
    if (!reachable) continue;
    set[0] = first;
    const int a = first.u - 1;
    const int b = first.v - 1;
    vis.first(a, b, k);
    if (t == 1) {
      vis.emit(static_cast<const Edge*>(set), 1);
      continue;
    }
    at[a] = 1;
    at[b] = 2;
    if constexpr (paths_only) {
      degree[a] = 1;
      degree[b] = 1;
    }
    c.start(k, a, b);
    int d = 1;
    while (d >= 1) {
      // Affects output: lowest index first.
      const int i = c.take(d);
      if (i < 0) {
        // Nothing left to decide at this depth: back to the parent's exclude branch.
        --d;
        if (d >= 1) {
          at[w.added[d]] = 0;
          if constexpr (paths_only) {
            degree[w.added[d]] = 0;
            --degree[w.attach[d]];
          }
        }
        continue;
      }
      const Edge e = w.edge[i];
      const bool u_in = at[e.u - 1] != 0;
      const int x = u_in ? e.u - 1 : e.v - 1;
      const int y = u_in ? e.v - 1 : e.u - 1;
      if constexpr (paths_only) {
        if (degree[x] == 2) continue;  // only the exclude branch is left
      }
      set[d] = e;
      vis.extend(d, at[x] - 1, y, i);
      if (d + 1 >= t) {
        vis.emit(static_cast<const Edge*>(set), d + 1);
        continue;
      }
      // Include branch: y joins; the exclude branch resumes at this depth
      // without bond i.
      at[y] = d + 2;
      c.include(d, y);
      if constexpr (paths_only) {
        ++degree[x];
        degree[y] = 1;
        w.attach[d] = x;
      }
      w.added[d] = y;
      ++d;
    }
    at[a] = 0;
    at[b] = 0;
    if constexpr (paths_only) {
      degree[a] = 0;
      degree[b] = 0;
    }
  }
}

// Calls, for every connected acyclic set of exactly `threshold` bonds of G (a
// threshold below 1 acts as 1), each set once:
//   vis.first(a, b, k)        when bond k = (a+1, b+1), a < b, starts a set: a is
//                             the fragment's vertex 0 and b its vertex 1;
//   vis.extend(d, x, y, k)    when bond k joins as the set's bond d (d >= 1),
//                             tying new compound vertex y to fragment vertex x
//                             (vertices numbered in order of joining; y becomes
//                             vertex d + 1);
//   vis.emit(edges, n)        for the complete set, its n bonds in order of
//                             inclusion, after the first/extend of its last bond.
// first and extend also come for the smaller sets the search grows on its way,
// with the calls for a set's prefix coming before it: a visitor may keep state
// per depth. Allocates nothing once w has grown.
// With paths_only, only the sets in which no vertex has three bonds come, in the
// same order. Affects output: sets come depth-first; at every step the bond taken
// is the lowest-index undecided bond that touches the fragment (any undecided
// bond while the fragment is empty); the branch that includes it runs before the
// branch that excludes it for good. Fragment ids and occurrence-list order follow
// this order.
template <class Visitor>
void enumerate_bond_sets(const Graph& G, int threshold, EnumWork& w, Visitor&& vis,
                         bool paths_only = false) {
  load_working_edges(G, w);
  const int m = w.ne;
  const int t = threshold < 1 ? 1 : threshold;
  if (t > w.max_part) return;  // no part holds that many bonds
  const int W = (m + 63) / 64;
  w.words = W;
  // Depth d (1 .. t-1) holds the candidates of a fragment of d bonds.
  if (w.cand.size() < static_cast<std::size_t>(t) * W) w.cand.resize(static_cast<std::size_t>(t) * W);
  if (w.set.size() < static_cast<std::size_t>(t)) w.set.resize(t);
  if (w.added.size() < static_cast<std::size_t>(t)) {
    w.added.resize(t);
    w.attach.resize(t);
  }
  if (m <= 64) {
    if (w.touch.size() < static_cast<std::size_t>(t)) w.touch.resize(t);
    OneWordCandidates c{w.cand.data(), w.touch.data(), w.inc_mask.data()};
    if (paths_only)
      grow_bond_sets<true>(w, t, c, vis);
    else
      grow_bond_sets<false>(w, t, c, vis);
  } else {
    WordCandidates c{w.cand.data(), W, w.inc_off.data(), w.inc_edge.data(), w.inc_other.data(),
                     w.at.data()};
    if (paths_only)
      grow_bond_sets<true>(w, t, c, vis);
    else
      grow_bond_sets<false>(w, t, c, vis);
  }
}

// A visitor that passes only complete sets to emit(const Edge* edges, int n).
template <class Emit>
struct EmitOnly {
  Emit& emit_fn;
  void first(int, int, int) {}
  void extend(int, int, int, int) {}
  void emit(const Edge* s, int n) { emit_fn(s, n); }
};

// enumerate_bond_sets for a consumer of complete sets only.
template <class Emit>
void enumerate_bond_sets_emit(const Graph& G, int threshold, EnumWork& w, Emit&& emit) {
  enumerate_bond_sets(G, threshold, w, EmitOnly<Emit>{emit});
}

// What a complete bond set comes to, kept per growth sequence and per tree class
// for the current length: a live index of the fragment table (0 or more) or one
// of these.
constexpr int kResultUnknown = -1;        // not met complete yet
constexpr int kResultFiltered = -2;       // not of the requested fragment type
constexpr int kResultPerOccurrence = -3;  // canonical form depends on the numbering
constexpr int kResultOutside = -4;        // not in the descriptor space

// Growth index: every way of growing a fragment met since the last clear, as a
// trie of growth steps. Node 0 is the empty sequence; a node is found from its
// parent and the code of one further step, exactly. Complete sets are found two
// steps below the node of their first n - 2 bonds, which saves the lookup of the
// level in between, and hold their result in their slot: a slot is either a node
// or a complete set (within one length no sequence is both).
//
// The slots below one node lie together, in a block of their own (open
// addressing, 2^bits slots, linear probing inside the block) cut from one pool:
// the enumeration meets one node's steps in a row, as it tries every last bond
// of the sets that share their other bonds, so that these lookups share a few
// cache lines instead of landing anywhere in the index. A block that would be
// more than 7/8 full (a block of two or four slots: full) moves to a block
// twice its size, and the block it leaves is taken by the next node that needs
// one of that size.
struct GrowthIndex {
  struct Slot {
    std::uint32_t code;   // the first step; kNoStep marks a free slot
    std::uint32_t code2;  // the second step, kOneStep for a single step
    int value;            // a node's id, or a complete set's result
  };
  struct Block {
    std::uint32_t at = 0;    // its first slot in pool
    std::uint32_t used = 0;  // slots in use
    std::uint32_t bits = 0;  // 2^bits slots; 0: no block yet
  };
  std::vector<Slot> pool;
  // The pool takes room for this many slots (what the caller keeps) when it
  // first grows, and grows beyond only as far as needed, so that it is not
  // taken twice over after a clear.
  std::size_t room = 0;
  std::vector<Block> block;  // per node id
  // Per size (bits): blocks left behind by nodes that moved to larger ones,
  // taken again before the pool grows.
  std::vector<std::vector<std::uint32_t>> spare;
};

// The second code of a single step, and the first code of a free slot. Step
// codes are below both.
constexpr std::uint32_t kOneStep = 0xFFFFFFFFu;
constexpr std::uint32_t kNoStep = 0xFFFFFFFEu;

// Empties gi: only node 0 is left. Keeps its pool unless it has room for more
// than max_slots, which is then released; its room is max_slots.
void growth_clear(GrowthIndex& gi, std::size_t max_slots);

// Slots of gi's pool, in blocks in use or spare: what a clear would free.
inline std::size_t growth_slots(const GrowthIndex& gi) { return gi.pool.size(); }

// The place of a key in a block of 2^bits slots (bits >= 1).
inline std::uint32_t growth_block_home(std::uint32_t code, std::uint32_t code2,
                                       std::uint32_t bits) {
  return (code * 0x9E3779B9u + code2 * 0x85EBCA6Bu) >> (32 - bits);
}

// Adds the key, which gi does not hold, below node `parent`: its slot, valued
// with a new node id when node is true, else kResultUnknown.
GrowthIndex::Slot& growth_add(GrowthIndex& gi, std::uint32_t parent, std::uint32_t code,
                              std::uint32_t code2, bool node);

// The slot of the key below node `parent`, added when new (see growth_add).
inline GrowthIndex::Slot& growth_slot(GrowthIndex& gi, std::uint32_t parent, std::uint32_t code,
                                      std::uint32_t code2, bool node) {
  SARVIK_ASSERT(parent < gi.block.size() && code < kNoStep, "growth_index");
  const GrowthIndex::Block b = gi.block[parent];
  if (b.bits != 0) {
    const std::uint32_t mask = (std::uint32_t{1} << b.bits) - 1;
    GrowthIndex::Slot* slots = gi.pool.data() + b.at;
    for (std::uint32_t h = growth_block_home(code, code2, b.bits);; h = (h + 1) & mask) {
      GrowthIndex::Slot& s = slots[h];
      if (s.code == code && s.code2 == code2) return s;
      if (s.code == kNoStep) break;
    }
  }
  return growth_add(gi, parent, code, code2, node);
}

// The node `parent` extended by the step `code`: its id, handed out when new.
inline std::uint32_t growth_node(GrowthIndex& gi, std::uint32_t parent, std::uint32_t code) {
  return static_cast<std::uint32_t>(growth_slot(gi, parent, code, kOneStep, true).value);
}

// The result of the complete set `parent` extended by the step `code` and, unless
// code2 is kOneStep, the step code2; kResultUnknown when new. Valid until the
// next call.
inline int& growth_result(GrowthIndex& gi, std::uint32_t parent, std::uint32_t code,
                          std::uint32_t code2 = kOneStep) {
  return growth_slot(gi, parent, code, code2, false).value;
}

// Tree classes: exact isomorphism classes of labelled trees. Rooted subtrees and
// whole trees get ids by interning signatures (a vertex's label and its children's
// sorted (bond label, id) pairs; a whole tree's centre or central bond), so two
// trees get one id exactly when they are the same labelled tree, whatever their
// numbering.
struct TreeClasses {
  // Open addressing: the signature hash's high half beside id + 1, 0 free.
  std::vector<std::uint64_t> slot;
  std::size_t mask = 0;
  int shift = 64;
  std::vector<int> pool;             // signatures: length, then the ints
  std::vector<std::uint32_t> start;  // per id: its signature in pool
  std::vector<int> result;           // per id (whole trees only)
  std::vector<int> leaf_id;          // per label: the id of a lone vertex, -1 none yet
  // Scratch of tree_class, grown to the largest tree seen.
  std::vector<int> kid_off, kid, high, second, down, id, sig;
  std::vector<unsigned char> on_path;
};

// Empties tc (keeping its slots).
void tree_classes_clear(TreeClasses& tc);
// Keeps the ids below `keep` (as they are) and drops the rest, keeping the room.
void tree_classes_truncate(TreeClasses& tc, std::size_t keep);

// The class id of the labelled tree of nv >= 2 vertices where vertex 0 has label
// lab[0] and each vertex j >= 1 has label lab[j] and is bonded to vertex
// par[j] < j by a bond labelled bl[j]. Labels must not be negative.
int tree_class(TreeClasses& tc, int nv, const int* lab, const int* par, const int* bl);

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

// The tree g in growth form (see DescriptorSpace::Tree), vertices in breadth-first
// order from vertex 0; place[x] is the place of g's vertex x. False when g is not
// connected.
bool growth_form(const Graph& g, std::vector<int>& label, std::vector<int>& parent,
                 std::vector<int>& bond, std::vector<int>& place);

}  // namespace sarvik
