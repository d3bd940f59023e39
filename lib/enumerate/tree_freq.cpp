// Enumeration entry: every connected acyclic bond set of the current length of one
// compound, entered into the table.
//
// Canonical labelling is the costly step, and nearly every set repeats a labelled
// tree met before. So a set is first looked up by how it was grown (the growth
// index), then, for a growth sequence not met before at this length, by which
// labelled tree it is (the tree classes); only a tree not met before is built as a
// fragment graph, filtered by type, canonicalised and entered by its canonical
// form. A growth sequence (the label of one end of the start bond, then for each
// bond in order of inclusion the fragment vertex it ties to, the new vertex's
// label and the bond's label) describes one labelled tree with numbered
// vertices, so both lookups are exact. The result found for a tree stands for its other occurrences
// only where canonical labelling reports a form that does not depend on the
// numbering; the other trees are canonicalised at every occurrence.
#include "enumerate/tree_freq.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <utility>

#include "canon/cl_freq.h"
#include "enumerate/enumerate_detail.h"

namespace sarvik {

namespace {

constexpr const char* kModule = "tree_freq";

// The indexes start over, between compounds, once they reach these sizes: the
// growth index at 5/8 of 2^19 slots (8 MiB; it grows at 3/4, so one more
// compound fits), the tree classes at 2^18 ids (about 10 MiB), which bounds
// their memory on long runs. Starting over costs only repeated work.
constexpr std::size_t kGrowthSlots = std::size_t{1} << 19;
constexpr std::size_t kMaxClasses = std::size_t{1} << 18;
// A run in a descriptor space keeps one cache per length for the whole run: each
// a quarter of these sizes, so that the caches of all lengths together stay
// near what one sweep's cache may take. Starting over keeps the classes of the
// space's trees, so it costs little more than in a sweep.
constexpr std::size_t kSpaceGrowthSlots = kGrowthSlots / 4;
constexpr std::size_t kSpaceMaxClasses = kMaxClasses / 4;

// The growth node of a lone vertex of label l is kLoneVertexNode - l; labels are
// below 2^31, and the index hands out node ids below 2^31.
constexpr std::uint32_t kLoneVertexNode = std::numeric_limits<std::uint32_t>::max() - 1;

// Complete sets between two looks at the cancel flag.
constexpr int kSetsPerCancelCheck = 1 << 16;

}  // namespace

// What a thread has learnt of one length: the growth index and the tree
// classes, and what their results belong to.
struct TreeCache {
  GrowthIndex growth;
  TreeClasses classes;
  std::uint64_t generation = 0;
  // Classes the descriptor space's trees of the length took: the limit on the
  // classes counts from there.
  std::size_t seeded_classes = 0;
  int threshold = 0;
  int opt = 0;
};

// Everything a thread keeps from compound to compound; see Workspace.
struct WorkspaceState {
  EnumWork enum_work;
  FragWork frag_work;
  Graph frag_graph;
  CanonWork canon;
  // A sweep enumerates one length at a time and keeps one cache; a run in a
  // descriptor space counts each compound at every length and keeps one per
  // length (caches[threshold]), since what it learns stays valid for the run.
  std::vector<TreeCache> caches;
  // The growth sequence of the current set as step codes (level 0: the start
  // bond's end of smaller label alone; level k: the set's first k bonds), and the growth
  // nodes of its levels, as far as they are up to date. Nodes are looked up only
  // when a complete set needs them, so that branches that never complete a set
  // cost no lookups.
  std::vector<std::uint32_t> growth_code;
  std::vector<std::uint32_t> growth_path;
  std::vector<int> tree_label;
  std::vector<int> tree_parent;
  std::vector<int> tree_bond;
  std::vector<int> tree_place;
  std::vector<int> tree_degree;
  // A worker thread's handles of the current epoch (one length of one table): a
  // fragment met first in a set whose tree the thread has not met before (or met
  // with a numbering-dependent form) gets the next handle, and its canonical form
  // is handed over beside the occurrences. Results cached in the growth index and
  // the tree classes hold handles, so that a handle stands for all later sets of
  // its tree. Two handles may name one fragment; the thread that enters them into
  // the table finds the fragment by its form.
  int next_handle = 0;
  std::uint64_t handle_epoch = 0;
  // Where each handle (or descriptor-space place) stands among the current
  // compound's entries, -1 where it does not (yet); reset after each compound.
  std::vector<int> entry_of;
  std::size_t compound_first_entry = 0;
  // An occurrence's atoms and bond numbers, for reports of occurrences.
  std::vector<int> report_atoms;
  std::vector<int> report_bonds;
  // What the self-check saw, reported on standard error when the workspace
  // goes, so that a test can tell that numbering-dependent forms were among
  // the sets checked.
  long long check_sets = 0;
  long long check_numbering_dependent = 0;
#ifdef SARVIK_EXPENSIVE_CHECKS
  ~WorkspaceState() {
    if (check_sets > 0)
      std::fprintf(stderr, "self-check: %lld sets, %lld with a numbering-dependent form\n",
                   check_sets, check_numbering_dependent);
  }
#endif
};

namespace {

// One more occurrence of handle h in the current compound.
void tally(WorkspaceState& w, int h, CompoundEvents& out) {
  if (w.entry_of.size() <= static_cast<std::size_t>(h))
    w.entry_of.resize(std::max(w.entry_of.size() * 2, static_cast<std::size_t>(h) + 1), -1);
  int& at = w.entry_of[h];
  if (at < 0) {
    at = static_cast<int>(out.entries.size() - w.compound_first_entry);
    out.entries.push_back({h, 1});
  } else {
    ++out.entries[w.compound_first_entry + static_cast<std::size_t>(at)].n;
  }
}

// A new handle for canonical graph g, whose form is handed over in out.
int new_handle(WorkspaceState& w, const Graph& g, CompoundEvents& out) {
  const int width = form_width(g);
  const std::size_t at = out.forms.size();
  out.forms.resize(at + form_bytes(g.vs, g.es, width));
  pack_form(g, width, out.forms.data() + at);
  out.form_of.push_back(CompoundEvents::Form{at, g.key, width});
  return w.next_handle++;
}

// Enters the sets of one compound.
struct FragmentVisitor {
  WorkspaceState& w;
  TreeCache& tc;
  const Graph& G;
  const LengthContext& cx;
  FragmentTable* hashg;    // null for a worker thread, which records events instead
  OccurrenceStore* occ;    // with hashg
  int opt;
  int compid;
  bool indexed;            // growth sequences fit the step codes
  std::uint32_t per_pos;   // step codes per fragment vertex: labels x bond labels
  std::uint32_t n_bond;    // bond labels
  const int* vl;           // G's vertex labels
  const int* bond_label;   // per working bond, set once the search has loaded them
  std::uint32_t* code;     // growth_code
  std::uint32_t* path;     // growth_path
  int valid = 0;           // levels of path that are up to date
  bool swapped = false;    // the start bond's ends are coded in reverse
  const DescriptorSpace* space = nullptr;
  CompoundEvents* out = nullptr;  // a worker thread's events
  // Sets before the next look at the cancel flag: a few milliseconds of work.
  int until_cancel_check = kSetsPerCancelCheck;

  void first(int a, int b, int bond) {
    if (!indexed) return;
    bond_label = w.enum_work.label.data();
    // The start bond's end of smaller label comes first, so that the two ways
    // of meeting the bond in different compounds share their sequences.
    swapped = vl[b] < vl[a];
    if (swapped) std::swap(a, b);
    code[0] = static_cast<std::uint32_t>(vl[a]);
    code[1] = static_cast<std::uint32_t>(vl[b]) * n_bond + static_cast<std::uint32_t>(bond_label[bond]);
    valid = 0;
  }

  void extend(int d, int x, int y, int bond) {
    if (!indexed) return;
    if (swapped && x < 2) x = 1 - x;  // fragment vertices 0 and 1 trade places
    code[d + 1] = static_cast<std::uint32_t>(x) * per_pos + static_cast<std::uint32_t>(vl[y]) * n_bond +
                  static_cast<std::uint32_t>(bond_label[bond]);
    if (valid > d + 1) valid = d + 1;
  }

  // The result of the current complete set of n bonds in the growth index. Level
  // 0 (one vertex) needs no lookup: its node is named by the label alone, out of
  // the range of node ids the index hands out.
  int& growth_result_of(int n) {
    if (valid == 0) {
      path[0] = kLoneVertexNode - code[0];
      valid = 1;
    }
    if (n == 1) return growth_result(tc.growth, path[0], code[1]);
    // Two steps below the node of the first n - 2 bonds.
    for (int k = valid; k < n - 1; ++k) path[k] = growth_node(tc.growth, path[k - 1], code[k]);
    if (valid < n - 1) valid = n - 1;
    return growth_result(tc.growth, path[n - 2], code[n - 1], code[n]);
  }

  // Builds, filters, canonicalises and enters the set; returns the live index, or
  // kResultFiltered, or with *numbering_free whether the form may stand for its
  // tree's other occurrences.
  int enter(const Edge* s, int n, bool* numbering_free) {
    create_graph_from_set(s, n, G, w.frag_work, w.frag_graph);
    if (!fragment_passes(w.frag_graph, opt)) return kResultFiltered;
    *numbering_free = cl_canonicalize_graph(w.frag_graph, w.canon);
    if (out == nullptr) return hash_graph(w.frag_graph, *hashg, *occ, compid);
    const int handle = new_handle(w, w.frag_graph, *out);
    tally(w, handle, *out);
    return handle;
  }

  // One more occurrence of a fragment known by its live index (a worker's
  // handle, or in a descriptor space the fragment's place).
  void count_known(int known) {
    if (out == nullptr)
      count_occurrence(*hashg, *occ, known, compid);
    else
      tally(w, known, *out);
  }

  // What the set comes to: a live index after entering one occurrence, or
  // kResultFiltered.
  int enter_occurrence(const Edge* s, int n) {
    if (space != nullptr) return count_in_space(s, n);
    bool numbering_free = false;
    if (!indexed) return enter(s, n, &numbering_free);
    // No other growth lookup comes between here and the last use of leaf.
    int& leaf = growth_result_of(n);
    int known = leaf;
    if (known == kResultUnknown) {
      const int cls = set_class(s, n);
      known = tc.classes.result[cls];
      if (known == kResultUnknown) {
        // The first occurrence of this tree at this length.
        const int live = enter(s, n, &numbering_free);
        known = live >= 0 && !numbering_free ? kResultPerOccurrence : live;
        tc.classes.result[cls] = known;
        leaf = known;
        return live;
      }
      leaf = known;
    }
    if (known >= 0) {
      count_known(known);
      return known;
    }
    if (known == kResultPerOccurrence) return enter(s, n, &numbering_free);
    return kResultFiltered;
  }

  // Whether the tree in tree_parent (n bonds) is of type opt.
  bool tree_passes(int n) {
    if (opt == kFragmentsAll) return true;
    w.tree_degree.assign(static_cast<std::size_t>(n) + 1, 0);
    bool branched = false;
    for (int j = 1; j <= n; ++j) {
      ++w.tree_degree[j];
      branched = branched || ++w.tree_degree[w.tree_parent[j]] >= 3;
    }
    return opt == kFragmentsTrees ? branched : !branched;
  }

  // The tree class of set s of n bonds, its tree left in tree_label, tree_parent
  // and tree_bond: from the growth codes, or for a compound not indexed from the
  // set's graph.
  int set_class(const Edge* s, int n) {
    if (indexed) {
      // Vertex j + 1 joins at step j.
      w.tree_label[0] = static_cast<int>(code[0]);
      for (int j = 1; j <= n; ++j) {
        const std::uint32_t c = code[j];
        w.tree_parent[j] = static_cast<int>(c / per_pos);
        w.tree_label[j] = static_cast<int>(c % per_pos / n_bond);
        w.tree_bond[j] = static_cast<int>(c % n_bond);
      }
    } else {
      create_graph_from_set(s, n, G, w.frag_work, w.frag_graph);
      growth_form(w.frag_graph, w.tree_label, w.tree_parent, w.tree_bond, w.tree_place);
    }
    return tree_class(tc.classes, n + 1, w.tree_label.data(), w.tree_parent.data(),
                      w.tree_bond.data());
  }

  // Counts set s of n bonds in the descriptor space: the live index of its
  // fragment there, or kResultOutside, or kResultFiltered. Sameness is that of
  // labelled trees (tree classes), which no numbering can change.
  int count_in_space(const Edge* s, int n) {
    int* leaf = indexed ? &growth_result_of(n) : nullptr;
    int known = leaf != nullptr ? *leaf : kResultUnknown;
    if (known == kResultUnknown) {
      const int cls = set_class(s, n);
      known = tc.classes.result[cls];
      if (known == kResultUnknown) {
        known = tree_passes(n) ? kResultOutside : kResultFiltered;
        tc.classes.result[cls] = known;
      }
      if (leaf != nullptr) *leaf = known;
    }
    if (known >= 0) {
      count_known(known);
      if (cx.occurrence != nullptr) report(known, s, n);
    } else if (known == kResultOutside)
      ++out->outside;
    return known;
  }

  // Reports the occurrence of the space's fragment at `place`: set s of n bonds.
  void report(int place, const Edge* s, int n) {
    w.report_atoms.clear();
    w.report_bonds.clear();
    for (int k = 0; k < n; ++k) {
      const int a = s[k].u - 1;
      const int b = s[k].v - 1;
      if (k == 0) w.report_atoms.push_back(a);
      for (const int x : {a, b})
        if (std::find(w.report_atoms.begin(), w.report_atoms.end(), x) == w.report_atoms.end())
          w.report_atoms.push_back(x);
      SARVIK_ASSERT(static_cast<int>(G.eb.size()) == G.es, kModule);
      int j = G.v[a];
      while (j < G.v[a + 1] && G.e[j] != b) ++j;
      SARVIK_ASSERT(j < G.v[a + 1], kModule);
      w.report_bonds.push_back(G.eb[j]);
    }
    (*cx.occurrence)(space->by_length[cx.threshold].id[static_cast<std::size_t>(place)],
                     w.report_atoms, w.report_bonds);
  }

  void emit(const Edge* s, int n) {
    if (--until_cancel_check == 0) {
      until_cancel_check = kSetsPerCancelCheck;
      check_cancel(cx.cancel);
    }
    const int live = enter_occurrence(s, n);
#ifdef SARVIK_EXPENSIVE_CHECKS
    // Every set again from scratch: built, filtered, canonicalised with the
    // unpruned search and looked up by its form.
    if (space != nullptr || out != nullptr) return;
    create_graph_from_set(s, n, G, w.frag_work, w.frag_graph);
    const bool passes = fragment_passes(w.frag_graph, opt);
    SARVIK_ASSERT(passes == (live >= 0), kModule);
    ++w.check_sets;
    if (passes) {
      w.check_numbering_dependent += !cl_canonicalize_graph_unpruned(w.frag_graph, w.canon);
      SARVIK_ASSERT(table_find(*hashg, w.frag_graph) == live, kModule);
    }
#else
    (void)live;
#endif
  }
};

// Whether every label of G is an index into label tables of these sizes, as the
// step codes assume.
bool labels_within(const Graph& G, std::uint64_t n_vertex, std::uint64_t n_bond) {
  for (int i = 0; i < G.vs; ++i)
    if (G.vl[i] < 0 || static_cast<std::uint64_t>(G.vl[i]) >= n_vertex) return false;
  for (int j = 0; j < G.es; ++j)
    if (G.el[j] < 0 || static_cast<std::uint64_t>(G.el[j]) >= n_bond) return false;
  return true;
}

}  // namespace

namespace {

// Interns the space's trees of the length into emptied tree classes, each with
// its place in the length's list as result.
void seed_space_classes(TreeCache& tc, const DescriptorSpace& space, int threshold) {
  tc.seeded_classes = 0;
  if (threshold < 0 || static_cast<std::size_t>(threshold) >= space.by_length.size()) return;
  const DescriptorSpace::Length& l = space.by_length[threshold];
  const std::size_t nv = static_cast<std::size_t>(threshold) + 1;
  for (std::size_t k = 0; k < l.id.size(); ++k) {
    const int cls = tree_class(tc.classes, static_cast<int>(nv), l.label.data() + k * nv,
                               l.parent.data() + k * nv, l.bond.data() + k * nv);
    tc.classes.result[cls] = static_cast<int>(k);
  }
  tc.seeded_classes = tc.classes.result.size();
}

// Makes tc's tree classes ready for a compound: started over when they belong
// to another length or run (`same` false) or have grown past their limit; in a
// descriptor space they then hold the space's trees of the length, and once
// seeded only the classes met beyond those go.
void refresh_classes(TreeCache& tc, bool same, const DescriptorSpace* space, int threshold) {
  const std::size_t limit = space != nullptr ? kSpaceMaxClasses : kMaxClasses;
  const bool full = tc.classes.result.size() > tc.seeded_classes + limit;
  if (same && !full && !tc.classes.slot.empty()) return;
  if (same && full && space != nullptr) {
    tree_classes_truncate(tc.classes, tc.seeded_classes);
    return;
  }
  tree_classes_clear(tc.classes);
  tc.seeded_classes = 0;
  if (space != nullptr) seed_space_classes(tc, *space, threshold);
}

// One compound at the length of cx: entered into hashg (worker null), or as
// events into out. `generation` names what the cached results belong to.
void run_compound(WorkspaceState& w, const Graph& G, const LengthContext& cx, FragmentTable* hashg,
                  OccurrenceStore* occ, int compid, std::uint64_t generation,
                  CompoundEvents* out) {
  const LabelSet& ls = *cx.ls;
  const int threshold = cx.threshold;
  const int opt = cx.opt;
  const DescriptorSpace* space = cx.space;
  const std::uint64_t n_vertex = ls.vl.buf.size();
  const std::uint64_t n_bond = ls.el.buf.size();
  const std::uint64_t t = threshold < 1 ? 1 : static_cast<std::uint64_t>(threshold);
  // Step codes: fragment vertex (below t) x vertex label x bond label; a label set
  // too large for 32-bit codes leaves the compound unindexed.
  const bool indexed = n_vertex > 0 && n_bond > 0 &&
                       n_vertex <= std::numeric_limits<std::uint32_t>::max() / n_bond / t &&
                       labels_within(G, n_vertex, n_bond);
  const std::size_t slot = space != nullptr ? static_cast<std::size_t>(std::max(threshold, 0)) : 0;
  if (w.caches.size() <= slot) w.caches.resize(slot + 1);
  TreeCache& tc = w.caches[slot];
  const bool same = tc.generation == generation && tc.threshold == threshold && tc.opt == opt;
  if (indexed) {
    // Results hold live indices, valid until the table's next sweep, for one
    // length and fragment type.
    const std::size_t growth_slots = space != nullptr ? kSpaceGrowthSlots : kGrowthSlots;
    if (!same || 8 * tc.growth.used > 5 * growth_slots) growth_clear(tc.growth, growth_slots);
    refresh_classes(tc, same, space, threshold);
    tc.generation = generation;
    tc.threshold = threshold;
    tc.opt = opt;
    // No set of G is longer than its bonds, however long the length asked for.
    const std::size_t levels = std::min<std::uint64_t>(t, static_cast<std::uint64_t>(G.es) / 2) + 1;
    if (w.growth_path.size() < levels) {
      w.growth_code.resize(levels);
      w.growth_path.resize(levels);
      w.tree_label.resize(levels);
      w.tree_parent.resize(levels);
      w.tree_bond.resize(levels);
    }
  } else if (space != nullptr) {
    // Unindexed compounds find their classes through the same classes.
    refresh_classes(tc, same, space, threshold);
    tc.generation = 0;  // the growth index was not made ready
  }
  FragmentVisitor vis{w,
                      tc,
                      G,
                      cx,
                      hashg,
                      occ,
                      opt,
                      compid,
                      indexed,
                      static_cast<std::uint32_t>(n_vertex * n_bond),
                      static_cast<std::uint32_t>(n_bond),
                      G.vl.data(),
                      nullptr,
                      w.growth_code.data(),
                      w.growth_path.data()};
  vis.space = space;
  vis.out = out;
  // Path fragments (opt 3) need no branched set: the search leaves them out.
  enumerate_bond_sets(G, threshold, w.enum_work, vis, opt == kFragmentsPaths);
}

}  // namespace

Workspace::Workspace() : state(std::make_unique<WorkspaceState>()) {}
Workspace::~Workspace() = default;
Workspace::Workspace(Workspace&&) noexcept = default;
Workspace& Workspace::operator=(Workspace&&) noexcept = default;

void find_all_spanning(const Graph& G, int compid, const LengthContext& cx, FragmentTable& hashg,
                       OccurrenceStore& occ, Workspace& ws) {
  SARVIK_ASSERT(cx.space == nullptr, kModule);
  run_compound(*ws.state, G, cx, &hashg, &occ, compid, hashg.generation, nullptr);
}

void enumerate_compound_events(const Graph& G, const LengthContext& cx, std::uint64_t epoch,
                               CompoundEvents& out, Workspace& ws) {
  WorkspaceState& w = *ws.state;
  SARVIK_ASSERT(epoch != 0, kModule);
  if (w.handle_epoch != epoch) {
    w.next_handle = 0;
    w.handle_epoch = epoch;
  }
  if (out.ends.empty()) out.first_handle = w.next_handle;
  w.compound_first_entry = out.entries.size();
  run_compound(w, G, cx, nullptr, nullptr, -1, epoch, &out);
  for (std::size_t j = w.compound_first_entry; j < out.entries.size(); ++j)
    w.entry_of[static_cast<std::size_t>(out.entries[j].handle)] = -1;
  out.ends.push_back(out.entries.size());
}

}  // namespace sarvik
