// Fragment enumeration: every connected acyclic bond set of exactly `threshold`
// bonds of one compound, each once, entered into the fragment table.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/common.h"
#include "table/table.h"

namespace sarvik {

// The descriptor space of an earlier run (-dspace): its fragments as labelled
// trees, grouped by length. A fragment of n bonds is held in growth form, n + 1
// entries from k (n + 1) of its length's arrays for its place k: vertex 0, then
// each vertex j >= 1 bonded to parent[j] < j by a bond labelled bond[j]; labels
// are this run's integers.
struct DescriptorSpace {
  struct Length {
    std::vector<int> id;  // per place: the descriptor id, the record's 1-based position
    std::vector<int> label, parent, bond;
  };
  std::vector<Length> by_length;  // [length]: its fragments in record order
  int size = 0;                   // records
};

// What a descriptor space must fit: the run's lengths, fragment type, format
// and label options, its labels, and the space's file name for messages.
struct SpaceRule {
  std::string file;
  int mint = 1;
  int maxt = 7;
  int opt = kFragmentsAll;
  Format format = Format::sd;
  int NoAtmLabels = 0;
  int NoBndLabels = 0;
  const LabelSet* ls = nullptr;
};

// Adds record `position` (0-based) of the space's file, titled `title` (named in
// messages), to the space. Error "descriptor space '<file>': record <n> ..." when
// the record is no fragment (no bond, a cycle, more than one part), has a length
// outside mint..maxt, is not of type opt, or has labels that the run's label
// options rule out.
void descriptor_space_add(DescriptorSpace& space, const SpaceRule& rule, int position,
                          const Graph& record, const std::string& title);
// Error when two records of the space are the same fragment.
void descriptor_space_check_repeats(const DescriptorSpace& space, const SpaceRule& rule);

// What a worker thread makes of a run of compounds at the current length, for
// the thread that enters them into the table in compound order.
struct CompoundEvents {
  // One fragment a compound holds, in the order the compound first met it: the
  // worker's handle, or with a descriptor space the fragment's place in the
  // length's list; and how many times the compound holds it.
  struct Entry {
    int handle;
    std::uint64_t n;
  };
  // Where the form of a handle is: its place in `forms`, its width and key.
  struct Form {
    std::size_t at;
    unsigned key;
    int width;
  };
  std::vector<Entry> entries;
  std::vector<std::size_t> ends;   // per compound: the end of its entries
  // The canonical forms (the table's form codec) of the handles first given out
  // here, handles first_handle, first_handle + 1, ...
  std::vector<unsigned char> forms;
  std::vector<Form> form_of;
  int first_handle = 0;
  std::int64_t outside = 0;        // occurrences outside the descriptor space

  void clear() {
    entries.clear();
    ends.clear();
    forms.clear();
    form_of.clear();
    first_handle = 0;
    outside = 0;
  }
};

// One occurrence of a descriptor of the space: its id, the compound's atoms
// and bond numbers in the order the fragment was grown.
using OccurrenceReport =
    std::function<void(int descriptor, std::span<const int> atoms, std::span<const int> bonds)>;

// What every compound of one length shares.
struct LengthContext {
  const LabelSet* ls = nullptr;
  int opt = kFragmentsAll;
  int threshold = 1;
  const DescriptorSpace* space = nullptr;
  const std::atomic<bool>* cancel = nullptr;
  // With a space, one thread only: every occurrence of a descriptor (the
  // compounds must hold their bond numbers).
  const OccurrenceReport* occurrence = nullptr;
};

struct WorkspaceState;
// A thread's caches of the enumeration and canonical labelling: scratch grown to
// the largest compound and fragment seen, the growth index and the tree classes.
// One per thread; it serves one compound at a time.
struct Workspace {
  Workspace();
  ~Workspace();
  Workspace(Workspace&&) noexcept;
  Workspace& operator=(Workspace&&) noexcept;
  std::unique_ptr<WorkspaceState> state;
};

// Enumerates compound G at the length of cx with the caches of ws, appending its
// fragments to out (and one entry of out.ends). epoch (not 0) names the length
// and table: handles and cached results of another epoch are dropped.
//
// With a descriptor space (cx.space), fragments are not made: each bond set
// that is the same labelled tree as a fragment of the space of the current
// length counts one occurrence of the handle k, k being that fragment's place
// in cx.space->by_length[threshold]; any other set of type opt counts in
// out.outside. Sameness is that of labelled trees, which no numbering can
// change. The workspace keeps what it learns of each length for the epoch, so
// a compound may be counted at every length in turn.
void enumerate_compound_events(const Graph& G, const LengthContext& cx, std::uint64_t epoch,
                               CompoundEvents& out, Workspace& ws);

// Enumerates compound G at the length of cx and enters every fragment of type
// opt (1 all, 2 branched, 3 paths) through hash_graph under compound compid.
// Affects output: emission order decides fragment ids and list order. (A run
// in a descriptor space counts through enumerate_compound_events: cx.space
// must be null here.)
void find_all_spanning(const Graph& G, int compid, const LengthContext& cx, FragmentTable& hashg,
                       OccurrenceStore& occ, Workspace& ws);

}  // namespace sarvik
