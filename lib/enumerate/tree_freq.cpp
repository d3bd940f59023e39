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

namespace {

[[maybe_unused]] constexpr const char* kModule = "tree_freq";

// The indexes start over, between compounds, once they reach these sizes: the
// growth index at 5/8 of 2^19 slots (8 MiB; it grows at 3/4, so one more
// compound fits), the tree classes at 2^18 ids (about 10 MiB), which bounds
// their memory on long runs. Starting over costs only repeated work.
constexpr std::size_t kGrowthSlots = std::size_t{1} << 19;
constexpr std::size_t kMaxClasses = std::size_t{1} << 18;

// The growth node of a lone vertex of label l is kLoneVertexNode - l; labels are
// below 2^31, and the index hands out node ids below 2^31.
constexpr std::uint32_t kLoneVertexNode = std::numeric_limits<std::uint32_t>::max() - 1;

// Module scratch, one per thread, grown to the largest compound and fragment seen;
// released only by enumerate_free_work_area. Makes find_all_spanning
// non-re-entrant within a thread.
thread_local EnumWork enum_work;
thread_local FragWork frag_work;
thread_local Graph frag_graph;
thread_local GrowthIndex growth;
thread_local TreeClasses classes;
// What the results of growth and classes belong to.
thread_local std::uint64_t cache_generation = 0;
// Classes the descriptor space's trees of the current length took: the limit on
// the classes counts from there.
thread_local std::size_t seeded_classes = 0;
thread_local int cache_threshold = 0;
thread_local int cache_opt = 0;
// The growth sequence of the current set as step codes (level 0: the start
// bond's end of smaller label alone; level k: the set's first k bonds), and the growth
// nodes of its levels, as far as they are up to date. Nodes are looked up only
// when a complete set needs them, so that branches that never complete a set
// cost no lookups.
thread_local std::vector<std::uint32_t> growth_code;
thread_local std::vector<std::uint32_t> growth_path;
thread_local std::vector<int> tree_label;
thread_local std::vector<int> tree_parent;
thread_local std::vector<int> tree_bond;
thread_local std::vector<int> tree_place;
thread_local std::vector<int> tree_degree;

// A worker thread's handles of the current epoch (one length of one run): a
// fragment met first in a set whose tree the thread has not met before (or met
// with a numbering-dependent form) gets the next handle, and its canonical form
// is handed over beside the occurrences. Results cached in the growth index and
// the tree classes hold handles, so that a handle stands for all later sets of
// its tree. Two handles may name one fragment; the thread that enters them into
// the table finds the fragment by its form.
thread_local int next_handle = 0;
thread_local std::uint64_t handle_epoch = 0;

// Where each handle (or descriptor-space place) stands among the current
// compound's entries, -1 where it does not (yet); reset after each compound.
thread_local std::vector<int> entry_of;
thread_local std::size_t compound_first_entry = 0;

// One more occurrence of handle w in the current compound.
void tally(int w, CompoundEvents& out) {
  if (entry_of.size() <= static_cast<std::size_t>(w))
    entry_of.resize(std::max(entry_of.size() * 2, static_cast<std::size_t>(w) + 1), -1);
  int& at = entry_of[w];
  if (at < 0) {
    at = static_cast<int>(out.entries.size() - compound_first_entry);
    out.entries.push_back({w, 1});
  } else {
    ++out.entries[compound_first_entry + static_cast<std::size_t>(at)].n;
  }
}

// A new handle for canonical graph g, whose form is handed over in out.
int new_handle(const Graph& g, CompoundEvents& out) {
  std::vector<int>& d = out.forms;
  out.form_at.push_back(d.size());
  d.push_back(g.vs);
  d.push_back(g.es);
  d.push_back(static_cast<int>(g.key));
  d.insert(d.end(), g.v.begin(), g.v.begin() + g.vs + 1);
  d.insert(d.end(), g.vl.begin(), g.vl.begin() + g.vs);
  d.insert(d.end(), g.e.begin(), g.e.begin() + g.es);
  d.insert(d.end(), g.el.begin(), g.el.begin() + g.es);
  return next_handle++;
}

#ifdef SARVIK_EXPENSIVE_CHECKS
// What the self-check saw, reported on standard error at exit, so that a test can
// tell that numbering-dependent forms were among the sets checked.
struct CheckTally {
  long long sets = 0;
  long long numbering_dependent = 0;
  ~CheckTally() {
    std::fprintf(stderr, "self-check: %lld sets, %lld with a numbering-dependent form\n", sets,
                 numbering_dependent);
  }
} check_tally;
#endif

// Enters the sets of one compound.
struct FragmentVisitor {
  const Graph& G;
  int& count;
  FragmentTable* hashg;    // null for a worker thread, which records events instead
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

  void first(int a, int b, int bond) {
    if (!indexed) return;
    bond_label = enum_work.label.data();
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
    if (n == 1) return growth_result(growth, path[0], code[1]);
    // Two steps below the node of the first n - 2 bonds.
    for (int k = valid; k < n - 1; ++k) path[k] = growth_node(growth, path[k - 1], code[k]);
    if (valid < n - 1) valid = n - 1;
    return growth_result(growth, path[n - 2], code[n - 1], code[n]);
  }

  // Builds, filters, canonicalises and enters the set; returns the live index, or
  // kResultFiltered, or with *numbering_free whether the form may stand for its
  // tree's other occurrences.
  int enter(const Edge* s, int n, bool* numbering_free) {
    create_graph_from_set(s, n, G, frag_work, frag_graph);
    if (!fragment_passes(frag_graph, opt)) return kResultFiltered;
    *numbering_free = cl_canonicalize_graph(frag_graph);
    if (out == nullptr) return hash_graph(frag_graph, count, *hashg, compid);
    const int handle = new_handle(frag_graph, *out);
    tally(handle, *out);
    return handle;
  }

  // One more occurrence of a fragment known by its live index (a worker's
  // handle, or in a descriptor space the fragment's place).
  void count_known(int known) {
    if (out == nullptr)
      count_occurrence(*hashg, known, compid);
    else
      tally(known, *out);
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
      known = classes.result[cls];
      if (known == kResultUnknown) {
        // The first occurrence of this tree at this length.
        const int live = enter(s, n, &numbering_free);
        known = live >= 0 && !numbering_free ? kResultPerOccurrence : live;
        classes.result[cls] = known;
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
    tree_degree.assign(static_cast<std::size_t>(n) + 1, 0);
    bool branched = false;
    for (int j = 1; j <= n; ++j) {
      ++tree_degree[j];
      branched = branched || ++tree_degree[tree_parent[j]] >= 3;
    }
    return opt == kFragmentsTrees ? branched : !branched;
  }

  // The tree class of set s of n bonds, its tree left in tree_label, tree_parent
  // and tree_bond: from the growth codes, or for a compound not indexed from the
  // set's graph.
  int set_class(const Edge* s, int n) {
    if (indexed) {
      // Vertex j + 1 joins at step j.
      tree_label[0] = static_cast<int>(code[0]);
      for (int j = 1; j <= n; ++j) {
        const std::uint32_t c = code[j];
        tree_parent[j] = static_cast<int>(c / per_pos);
        tree_label[j] = static_cast<int>(c % per_pos / n_bond);
        tree_bond[j] = static_cast<int>(c % n_bond);
      }
    } else {
      create_graph_from_set(s, n, G, frag_work, frag_graph);
      growth_form(frag_graph, tree_label, tree_parent, tree_bond, tree_place);
    }
    return tree_class(classes, n + 1, tree_label.data(), tree_parent.data(), tree_bond.data());
  }

  // Counts set s of n bonds in the descriptor space: the live index of its
  // fragment there, or kResultOutside, or kResultFiltered. Sameness is that of
  // labelled trees (tree classes), which no numbering can change.
  int count_in_space(const Edge* s, int n) {
    int* leaf = indexed ? &growth_result_of(n) : nullptr;
    int known = leaf != nullptr ? *leaf : kResultUnknown;
    if (known == kResultUnknown) {
      const int cls = set_class(s, n);
      known = classes.result[cls];
      if (known == kResultUnknown) {
        known = tree_passes(n) ? kResultOutside : kResultFiltered;
        classes.result[cls] = known;
      }
      if (leaf != nullptr) *leaf = known;
    }
    if (known >= 0)
      count_known(known);
    else if (known == kResultOutside)
      ++(out == nullptr ? hashg->outside : out->outside);
    return known;
  }

  void emit(const Edge* s, int n) {
    const int live = enter_occurrence(s, n);
#ifdef SARVIK_EXPENSIVE_CHECKS
    // Every set again from scratch: built, filtered, canonicalised with the
    // unpruned search and looked up by its form.
    if (space != nullptr || out != nullptr) return;
    create_graph_from_set(s, n, G, frag_work, frag_graph);
    const bool passes = fragment_passes(frag_graph, opt);
    SARVIK_ASSERT(passes == (live >= 0), kModule);
    ++check_tally.sets;
    if (passes) {
      check_tally.numbering_dependent += !cl_canonicalize_graph_unpruned(frag_graph);
      SARVIK_ASSERT(table_find(*hashg, frag_graph) == live, kModule);
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

// Interns the space's trees of the current length into emptied tree classes,
// each with its place in the length's list as result.
void seed_space_classes(const DescriptorSpace& space) {
  seeded_classes = 0;
  if (threshold < 0 || static_cast<std::size_t>(threshold) >= space.by_length.size()) return;
  const DescriptorSpace::Length& l = space.by_length[threshold];
  const std::size_t nv = static_cast<std::size_t>(threshold) + 1;
  for (std::size_t k = 0; k < l.id.size(); ++k) {
    const int cls = tree_class(classes, static_cast<int>(nv), l.label.data() + k * nv,
                               l.parent.data() + k * nv, l.bond.data() + k * nv);
    classes.result[cls] = static_cast<int>(k);
  }
  seeded_classes = classes.result.size();
}

// One compound at the current length: entered into hashg (worker null), or as
// events into out. `generation` names what the cached results belong to.
void run_compound(const Graph& G, const LabelSet& ls, int& count, FragmentTable* hashg, int opt,
                  int compid, const DescriptorSpace* space, std::uint64_t generation,
                  CompoundEvents* out) {
  const std::uint64_t n_vertex = ls.vl.buf.size();
  const std::uint64_t n_bond = ls.el.buf.size();
  const std::uint64_t t = threshold < 1 ? 1 : static_cast<std::uint64_t>(threshold);
  // Step codes: fragment vertex (below t) x vertex label x bond label; a label set
  // too large for 32-bit codes leaves the compound unindexed.
  const bool indexed = n_vertex > 0 && n_bond > 0 &&
                       n_vertex <= std::numeric_limits<std::uint32_t>::max() / n_bond / t &&
                       labels_within(G, n_vertex, n_bond);
  if (indexed) {
    // Results hold live indices, valid until the table's next sweep, for one
    // length and fragment type.
    const bool same = cache_generation == generation && cache_threshold == threshold &&
                      cache_opt == opt;
    if (!same || 8 * growth.used > 5 * kGrowthSlots)
      growth_clear(growth, kGrowthSlots);
    if (!same || classes.result.size() > seeded_classes + kMaxClasses || classes.slot.empty()) {
      tree_classes_clear(classes);
      seeded_classes = 0;
      if (space != nullptr) seed_space_classes(*space);
    }
    cache_generation = generation;
    cache_threshold = threshold;
    cache_opt = opt;
    // No set of G is longer than its bonds, however long the length asked for.
    const std::size_t levels = std::min<std::uint64_t>(t, static_cast<std::uint64_t>(G.es) / 2) + 1;
    if (growth_path.size() < levels) {
      growth_code.resize(levels);
      growth_path.resize(levels);
      tree_label.resize(levels);
      tree_parent.resize(levels);
      tree_bond.resize(levels);
    }
  } else if (space != nullptr) {
    // Unindexed compounds find their classes through the same classes.
    const bool same = cache_generation == generation && cache_threshold == threshold &&
                      cache_opt == opt;
    if (!same || classes.result.size() > seeded_classes + kMaxClasses || classes.slot.empty()) {
      tree_classes_clear(classes);
      seed_space_classes(*space);
    }
    cache_generation = 0;  // the growth index was not made ready
  }
  FragmentVisitor vis{G,
                      count,
                      hashg,
                      opt,
                      compid,
                      indexed,
                      static_cast<std::uint32_t>(n_vertex * n_bond),
                      static_cast<std::uint32_t>(n_bond),
                      G.vl.data(),
                      nullptr,
                      growth_code.data(),
                      growth_path.data()};
  vis.space = space;
  vis.out = out;
  // Path fragments (opt 3) need no branched set: the search leaves them out.
  enumerate_bond_sets(G, threshold, enum_work, vis, opt == kFragmentsPaths);
}

}  // namespace

void find_all_spanning(const Graph& G, const LabelSet& ls, int& count,
                       FragmentTable& hashg, int opt, int compid, const DescriptorSpace* space) {
  run_compound(G, ls, count, &hashg, opt, compid, space, hashg.generation, nullptr);
}

void enumerate_compound_events(const Graph& G, const LabelSet& ls, int opt,
                               const DescriptorSpace* space, std::uint64_t epoch,
                               CompoundEvents& out) {
  SARVIK_ASSERT(epoch != 0, kModule);
  if (handle_epoch != epoch) {
    next_handle = 0;
    handle_epoch = epoch;
  }
  if (out.ends.empty()) out.first_handle = next_handle;
  int unused = 0;
  compound_first_entry = out.entries.size();
  run_compound(G, ls, unused, nullptr, opt, -1, space, epoch, &out);
  for (std::size_t j = compound_first_entry; j < out.entries.size(); ++j)
    entry_of[static_cast<std::size_t>(out.entries[j].handle)] = -1;
  out.ends.push_back(out.entries.size());
}

void enumerate_free_work_area() {
  enum_work = EnumWork{};
  frag_work = FragWork{};
  frag_graph = Graph{};
  growth = GrowthIndex{};
  classes = TreeClasses{};
  cache_generation = 0;
  seeded_classes = 0;
  std::vector<std::uint32_t>().swap(growth_code);
  std::vector<std::uint32_t>().swap(growth_path);
  std::vector<int>().swap(tree_label);
  std::vector<int>().swap(tree_parent);
  std::vector<int>().swap(tree_bond);
  std::vector<int>().swap(tree_place);
  std::vector<int>().swap(tree_degree);
  next_handle = 0;
  handle_epoch = 0;
  entry_of = {};
}
