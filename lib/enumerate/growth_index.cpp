// Exact indexes that let one canonical labelling stand for many bond sets: the
// growth index (how a set was grown) and the tree classes (which labelled tree it
// is, whatever the numbering).
#include <algorithm>
#include <bit>
#include <limits>

#include "enumerate/enumerate_detail.h"

namespace sarvik {

namespace {

constexpr const char* kModule = "growth_index";

inline std::size_t home_of(std::uint64_t hash, int shift) { return fibonacci_home(hash, shift); }

}  // namespace

// ---- growth index ----

namespace {

constexpr int kRecentBits = 10;

void recent_clear(GrowthIndex& gi) {
  gi.recent.assign(std::size_t{1} << kRecentBits, GrowthIndex::Recent{0, 0, 0, 0});
}

constexpr GrowthIndex::Slot kFreeSlot{0, 0, 0, 0};

}  // namespace

void growth_clear(GrowthIndex& gi, std::size_t max_slots) {
  // An index without nodes is clear already: runs of lengths that no compound
  // reaches cost nothing.
  if (gi.used == 0 && !gi.slot.empty() && gi.slot.size() <= max_slots) return;
  if (gi.slot.empty() || gi.slot.size() > max_slots)
    std::vector<GrowthIndex::Slot>(std::min(max_slots, std::size_t{1} << 12)).swap(gi.slot);
  std::fill(gi.slot.begin(), gi.slot.end(), kFreeSlot);
  gi.mask = gi.slot.size() - 1;
  gi.shift = 64 - std::countr_zero(gi.slot.size());
  gi.used = 0;
  gi.nodes = 1;
  recent_clear(gi);
}

namespace {

// The home slot of a key. A parent's single steps land near its place; two-step
// keys spread over the whole table (a node has many grandchildren, which would
// crowd one neighbourhood).
constexpr int kSpreadBits = 3;
inline std::size_t growth_home(const GrowthIndex& gi, std::uint32_t parent, std::uint32_t code,
                               std::uint32_t code2) {
  if (code2 != kOneStep)
    return home_of((static_cast<std::uint64_t>(parent) << 32 | code) ^
                       static_cast<std::uint64_t>(code2) * 0xC2B2AE3D27D4EB4Full,
                   gi.shift);
  const std::uint32_t spread = (code * 0x9E3779B9u) >> (32 - kSpreadBits);
  return (home_of(parent, gi.shift) + spread) & gi.mask;
}

// The first free slot from h on.
std::size_t free_slot_from(const GrowthIndex& gi, std::size_t h) {
  return probe_from(h, gi.mask, [&gi](std::size_t at) { return gi.slot[at].parent == 0; });
}

// Doubles the slots and places every entry again.
void growth_grow(GrowthIndex& gi) {
  std::vector<GrowthIndex::Slot> old(gi.slot.size() * 2, kFreeSlot);
  old.swap(gi.slot);
  gi.mask = gi.slot.size() - 1;
  gi.shift = 64 - std::countr_zero(gi.slot.size());
  for (const GrowthIndex::Slot& s : old) {
    if (s.parent == 0) continue;
    gi.slot[free_slot_from(gi, growth_home(gi, s.parent, s.code, s.code2))] = s;
  }
  recent_clear(gi);
}

// The slot of the key, added with value `fresh` (a new node id when node is true)
// when new.
GrowthIndex::Slot& find_or_add(GrowthIndex& gi, std::uint32_t parent, std::uint32_t code,
                               std::uint32_t code2, bool node) {
  const std::uint32_t p1 = parent + 1;
  const std::uint64_t mix = (static_cast<std::uint64_t>(p1) << 32 | code) * 0xD6E8FEB86659FD93ull ^
                            static_cast<std::uint64_t>(code2) * 0x9E3779B97F4A7C15ull;
  const std::size_t ri = static_cast<std::size_t>(mix >> (64 - kRecentBits));
  GrowthIndex::Recent& r = gi.recent[ri];
  if (r.parent == p1 && r.code == code && r.code2 == code2) return gi.slot[r.slot];
  std::size_t h = growth_home(gi, p1, code, code2);
  for (;;) {
    const GrowthIndex::Slot& s = gi.slot[h];
    if (s.parent == p1 && s.code == code && s.code2 == code2) {
      r = GrowthIndex::Recent{p1, code, code2, static_cast<std::uint32_t>(h)};
      return gi.slot[h];
    }
    if (s.parent == 0) break;
    h = (h + 1) & gi.mask;
  }
  // At most 3/4 full.
  if (4 * (gi.used + 1) > 3 * gi.slot.size()) {
    growth_grow(gi);
    h = free_slot_from(gi, growth_home(gi, p1, code, code2));
  }
  SARVIK_ASSERT(gi.nodes < (std::uint32_t{1} << 31) && p1 != 0, kModule);
  const int value = node ? static_cast<int>(gi.nodes++) : kResultUnknown;
  gi.slot[h] = GrowthIndex::Slot{p1, code, code2, value};
  ++gi.used;
  // A grow emptied the recent cache: the entry is set again.
  gi.recent[ri] = GrowthIndex::Recent{p1, code, code2, static_cast<std::uint32_t>(h)};
  return gi.slot[h];
}

}  // namespace

std::uint32_t growth_node(GrowthIndex& gi, std::uint32_t parent, std::uint32_t code) {
  return static_cast<std::uint32_t>(find_or_add(gi, parent, code, kOneStep, true).value);
}

int& growth_result(GrowthIndex& gi, std::uint32_t parent, std::uint32_t code, std::uint32_t code2) {
  return find_or_add(gi, parent, code, code2, false).value;
}

// ---- tree classes ----

void tree_classes_clear(TreeClasses& tc) {
  if (tc.start.empty() && !tc.slot.empty()) return;
  if (tc.slot.empty()) tc.slot.assign(std::size_t{1} << 12, 0);
  else std::fill(tc.slot.begin(), tc.slot.end(), 0);
  tc.mask = tc.slot.size() - 1;
  tc.shift = 64 - std::countr_zero(tc.slot.size());
  tc.pool.clear();
  tc.start.clear();
  tc.result.clear();
  tc.leaf_id.clear();
}

namespace {

// Signatures are taken two ints at a time.
std::uint64_t signature_hash(const int* sig, int n) {
  std::uint64_t h = 0x243F6A8885A308D3ull ^ static_cast<std::uint64_t>(n);
  int i = 0;
  for (; i + 1 < n; i += 2) {
    h ^= static_cast<std::uint64_t>(static_cast<std::uint32_t>(sig[i])) << 32 |
         static_cast<std::uint32_t>(sig[i + 1]);
    h *= 0x9E3779B97F4A7C15ull;
    h ^= h >> 31;
  }
  if (i < n) {
    h ^= static_cast<std::uint32_t>(sig[i]);
    h *= 0x9E3779B97F4A7C15ull;
    h ^= h >> 31;
  }
  return h;
}

// A slot: the signature hash's high half beside id + 1; 0 is a free slot.
inline std::uint64_t class_slot(std::uint64_t hash, std::size_t id) {
  return (hash & 0xFFFFFFFF00000000ull) | (static_cast<std::uint64_t>(id) + 1);
}

// The first free slot from h on.
std::size_t free_class_slot(const TreeClasses& tc, std::size_t h) {
  return probe_from(h, tc.mask, [&tc](std::size_t at) { return tc.slot[at] == 0; });
}

void classes_grow(TreeClasses& tc) {
  tc.slot.assign(tc.slot.size() * 2, 0);
  tc.mask = tc.slot.size() - 1;
  tc.shift = 64 - std::countr_zero(tc.slot.size());
  for (std::size_t id = 0; id < tc.start.size(); ++id) {
    const int* sig = tc.pool.data() + tc.start[id];
    const std::uint64_t hash = signature_hash(sig + 1, sig[0]);
    tc.slot[free_class_slot(tc, home_of(hash, tc.shift))] = class_slot(hash, id);
  }
}

}  // namespace

void tree_classes_truncate(TreeClasses& tc, std::size_t keep) {
  if (keep >= tc.start.size()) return;
  tc.pool.resize(tc.start[keep]);
  tc.start.resize(keep);
  tc.result.resize(keep);
  for (int& id : tc.leaf_id)
    if (id >= 0 && static_cast<std::size_t>(id) >= keep) id = -1;
  std::fill(tc.slot.begin(), tc.slot.end(), 0);
  for (std::size_t id = 0; id < keep; ++id) {
    const int* sig = tc.pool.data() + tc.start[id];
    const std::uint64_t hash = signature_hash(sig + 1, sig[0]);
    tc.slot[free_class_slot(tc, home_of(hash, tc.shift))] = class_slot(hash, id);
  }
}

namespace {

// The id of signature sig[0..n-1], added when new. Equal ids mean equal
// signatures: a candidate with the same hash is compared int by int.
int intern(TreeClasses& tc, const int* sig, int n) {
  const std::uint64_t hash = signature_hash(sig, n);
  const std::uint64_t tag = hash & 0xFFFFFFFF00000000ull;
  std::size_t h = home_of(hash, tc.shift);
  for (std::uint64_t e; (e = tc.slot[h]) != 0; h = (h + 1) & tc.mask) {
    if ((e & 0xFFFFFFFF00000000ull) != tag) continue;
    const std::size_t id = static_cast<std::uint32_t>(e) - 1;
    const int* other = tc.pool.data() + tc.start[id];
    if (other[0] == n && std::equal(sig, sig + n, other + 1)) return static_cast<int>(id);
  }
  if (4 * (tc.start.size() + 1) > 3 * tc.slot.size()) {
    classes_grow(tc);
    h = free_class_slot(tc, home_of(hash, tc.shift));
  }
  const std::size_t id = tc.start.size();
  SARVIK_ASSERT(id < static_cast<std::size_t>(std::numeric_limits<int>::max() - 1) &&
                    tc.pool.size() < std::numeric_limits<std::uint32_t>::max() - n - 1,
                kModule);
  tc.slot[h] = class_slot(hash, id);
  tc.start.push_back(static_cast<std::uint32_t>(tc.pool.size()));
  tc.pool.push_back(n);
  tc.pool.insert(tc.pool.end(), sig, sig + n);
  tc.result.push_back(kResultUnknown);
  return static_cast<int>(id);
}

// Signature markers of whole trees; vertex signatures start with a label (>= 0).
constexpr int kOneCentre = -1;
constexpr int kTwoCentres = -2;

}  // namespace

int tree_class(TreeClasses& tc, int nv, const int* lab, const int* par, const int* bl) {
  SARVIK_ASSERT(nv >= 2, kModule);
  const std::size_t n = static_cast<std::size_t>(nv);
  if (tc.kid_off.size() < n + 1) {
    tc.kid_off.resize(n + 1);
    tc.kid.resize(n);
    tc.high.resize(n);
    tc.second.resize(n);
    tc.down.resize(n);
    tc.on_path.resize(n);
    tc.id.resize(n);
    tc.sig.resize(2 * n + 4);
  }
  // Children of each vertex in the tree hung from vertex 0 (par[j] < j), and the
  // two longest branches below each vertex, with the child of the longest.
  int* kid_off = tc.kid_off.data();
  int* kid = tc.kid.data();
  int* high = tc.high.data();
  int* second = tc.second.data();
  int* down = tc.down.data();
  std::fill_n(kid_off, nv + 1, 0);
  for (int j = 1; j < nv; ++j) {
    SARVIK_ASSERT(par[j] >= 0 && par[j] < j && lab[j] >= 0, kModule);
    ++kid_off[par[j] + 1];
  }
  for (int i = 0; i < nv; ++i) {
    kid_off[i + 1] += kid_off[i];
    high[i] = 0;
    second[i] = 0;
    down[i] = -1;
  }
  for (int j = nv - 1; j >= 1; --j) {
    const int p = par[j];
    kid[--kid_off[p + 1]] = j;
    const int b = high[j] + 1;
    if (b > high[p]) {
      second[p] = high[p];
      high[p] = b;
      down[p] = j;
    } else if (b > second[p]) {
      second[p] = b;
    }
  }
  // kid_off[p + 1] was counted down to the start of p's run: shift by one.
  for (int i = 0; i < nv; ++i) kid_off[i] = kid_off[i + 1];
  kid_off[nv] = nv - 1;

  // The longest path tops out at the vertex with the longest two branches; the
  // centre lies on its longer branch, (a - b) / 2 steps down (a second centre
  // one step further when a - b is odd).
  int apex = 0;
  for (int i = 1; i < nv; ++i)
    if (high[i] + second[i] > high[apex] + second[apex]) apex = i;
  const int a = high[apex];
  const int b = second[apex];
  int c1 = apex;
  for (int k = 0; k < (a - b) / 2; ++k) c1 = down[c1];
  const int c2 = (a - b) % 2 != 0 ? down[c1] : -1;

  // Hung from c1 instead, only the path from c1 up to vertex 0 turns round:
  // path[0] = c1, path[i + 1] = par[path[i]], path[m] = 0.
  unsigned char* on_path = tc.on_path.data();
  std::fill_n(on_path, nv, 0);
  int* path = second;  // free again
  int m = 0;
  for (int w = c1;; w = par[w]) {
    on_path[w] = 1;
    path[m] = w;
    if (w == 0) break;
    ++m;
  }

  int* id = tc.id.data();
  int* sig = tc.sig.data();
  // The id of a lone vertex of label l.
  auto leaf = [&tc](int l) {
    const std::size_t u = static_cast<std::size_t>(l);
    if (u >= tc.leaf_id.size()) tc.leaf_id.resize(u + 1, -1);
    if (tc.leaf_id[u] < 0) {
      const int lone[2] = {l, 0};
      tc.leaf_id[u] = intern(tc, lone, 2);
    }
    return tc.leaf_id[u];
  };
  // Signature of x: its label, its number of children, then its children's (bond
  // label, id) pairs in ascending order. `skip` is a child left out, `extra` a
  // child beyond x's own (its parent in the tree hung from 0) with bond label el.
  auto sign = [&](int x, int skip, int extra, int el) {
    int nk = 0;
    auto add = [&](int label, int child_id) {
      int p = nk++;
      for (; p > 0 && (sig[2 * p] > label || (sig[2 * p] == label && sig[2 * p + 1] > child_id));
           --p) {
        sig[2 * p + 2] = sig[2 * p];
        sig[2 * p + 3] = sig[2 * p + 1];
      }
      sig[2 * p + 2] = label;
      sig[2 * p + 3] = child_id;
    };
    for (int k = kid_off[x]; k < kid_off[x + 1]; ++k)
      if (kid[k] != skip) add(bl[kid[k]], id[kid[k]]);
    if (extra >= 0) add(el, id[extra]);
    if (nk == 0) return leaf(lab[x]);
    sig[0] = lab[x];
    sig[1] = nk;
    return intern(tc, sig, 2 + 2 * nk);
  };

  // Off the path, children keep their higher indices: descending order is
  // bottom-up. Then the path from vertex 0 down to c1, each vertex taking the
  // one above it as a child and leaving out the one below; c1 leaves out c2.
  for (int x = nv - 1; x >= 0; --x) {
    if (on_path[x]) continue;
    id[x] = kid_off[x] == kid_off[x + 1] ? leaf(lab[x]) : sign(x, -1, -1, 0);
  }
  for (int i = m; i >= 0; --i) {
    const int w = path[i];
    const int skip = i > 0 ? path[i - 1] : c2;
    const int extra = i < m ? path[i + 1] : -1;
    id[w] = sign(w, skip, extra, bl[w]);
  }
  // The whole tree: its centre's id, or the central bond's label with the ids of
  // its two halves in ascending order.
  if (c2 < 0) {
    sig[0] = kOneCentre;
    sig[1] = id[c1];
    return intern(tc, sig, 2);
  }
  sig[0] = kTwoCentres;
  sig[1] = bl[c2];
  sig[2] = std::min(id[c1], id[c2]);
  sig[3] = std::max(id[c1], id[c2]);
  return intern(tc, sig, 4);
}

}  // namespace sarvik
