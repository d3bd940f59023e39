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

// A node's first block: two slots (many nodes have one child).
constexpr std::uint32_t kFirstBlockBits = 1;

constexpr GrowthIndex::Slot kFreeSlot{kNoStep, 0, 0};

// A block of 2^bits free slots, a spare one or at the end of the pool: its
// first slot.
std::uint32_t new_block(GrowthIndex& gi, std::uint32_t bits) {
  if (bits < gi.spare.size() && !gi.spare[bits].empty()) {
    const std::uint32_t at = gi.spare[bits].back();
    gi.spare[bits].pop_back();
    std::fill_n(gi.pool.begin() + at, std::size_t{1} << bits, kFreeSlot);
    return at;
  }
  const std::size_t at = gi.pool.size();
  const std::size_t n = std::size_t{1} << bits;
  SARVIK_ASSERT(at + n <= std::numeric_limits<std::uint32_t>::max(), kModule);
  if (at + n > gi.pool.capacity()) {
    // The whole room the caller keeps at once (its pages are touched only as
    // the pool fills, and the pool is never copied on its way there); past it
    // (one compound with more steps than the room) by half again, so that a
    // huge compound still costs linear time.
    const std::size_t wanted = at + n <= gi.room ? gi.room
                                                 : gi.pool.capacity() + gi.pool.capacity() / 2;
    gi.pool.reserve(std::max(at + n, wanted));
  }
  gi.pool.resize(at + n, kFreeSlot);
  return static_cast<std::uint32_t>(at);
}

// Moves node p's block to one twice its size.
void grow_block(GrowthIndex& gi, std::uint32_t p) {
  const GrowthIndex::Block old = gi.block[p];
  const std::uint32_t bits = old.bits + 1;
  const std::uint32_t at = new_block(gi, bits);
  const std::uint32_t mask = (std::uint32_t{1} << bits) - 1;
  GrowthIndex::Slot* to = gi.pool.data() + at;
  for (std::uint32_t k = 0; k < (std::uint32_t{1} << old.bits); ++k) {
    const GrowthIndex::Slot s = gi.pool[old.at + k];
    if (s.code == kNoStep) continue;
    std::uint32_t h = growth_block_home(s.code, s.code2, bits);
    while (to[h].code != kNoStep) h = (h + 1) & mask;
    to[h] = s;
  }
  gi.block[p] = GrowthIndex::Block{at, old.used, bits};
  if (gi.spare.size() <= old.bits) gi.spare.resize(old.bits + 1);
  gi.spare[old.bits].push_back(old.at);
}

// Whether a block of 2^bits slots holds one more: at most 7/8 of a block is
// used (probes stay within a few cache lines), and small ones keep one slot
// free.
inline bool block_takes_one_more(std::uint32_t used, std::uint32_t bits) {
  const std::uint32_t size = std::uint32_t{1} << bits;
  return bits < 3 ? used + 1 < size : 8 * (used + 1) <= 7 * size;
}

}  // namespace

GrowthIndex::Slot& growth_add(GrowthIndex& gi, std::uint32_t parent, std::uint32_t code,
                              std::uint32_t code2, bool node) {
  const GrowthIndex::Block b = gi.block[parent];
  if (b.bits == 0)
    gi.block[parent] = GrowthIndex::Block{new_block(gi, kFirstBlockBits), 0, kFirstBlockBits};
  else if (!block_takes_one_more(b.used, b.bits))
    grow_block(gi, parent);
  int value = kResultUnknown;
  if (node) {
    SARVIK_ASSERT(gi.block.size() < (std::size_t{1} << 31), kModule);
    value = static_cast<int>(gi.block.size());
    gi.block.push_back(GrowthIndex::Block{});
  }
  GrowthIndex::Block& nb = gi.block[parent];
  ++nb.used;
  const std::uint32_t mask = (std::uint32_t{1} << nb.bits) - 1;
  GrowthIndex::Slot* slots = gi.pool.data() + nb.at;
  std::uint32_t h = growth_block_home(code, code2, nb.bits);
  while (slots[h].code != kNoStep) h = (h + 1) & mask;
  slots[h] = GrowthIndex::Slot{code, code2, value};
  return slots[h];
}

void growth_clear(GrowthIndex& gi, std::size_t max_slots) {
  if (gi.pool.capacity() > max_slots) std::vector<GrowthIndex::Slot>().swap(gi.pool);
  gi.room = max_slots;
  gi.pool.clear();
  gi.block.assign(1, GrowthIndex::Block{});
  for (std::vector<std::uint32_t>& s : gi.spare) s.clear();
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

// Enters every id into the slots, emptied first.
void rehash_classes(TreeClasses& tc) {
  std::fill(tc.slot.begin(), tc.slot.end(), 0);
  for (std::size_t id = 0; id < tc.start.size(); ++id) {
    const int* sig = tc.pool.data() + tc.start[id];
    const std::uint64_t hash = signature_hash(sig + 1, sig[0]);
    tc.slot[free_class_slot(tc, home_of(hash, tc.shift))] = class_slot(hash, id);
  }
}

void classes_grow(TreeClasses& tc) {
  tc.slot.resize(tc.slot.size() * 2);
  tc.mask = tc.slot.size() - 1;
  tc.shift = 64 - std::countr_zero(tc.slot.size());
  rehash_classes(tc);
}

}  // namespace

void tree_classes_truncate(TreeClasses& tc, std::size_t keep) {
  if (keep >= tc.start.size()) return;
  tc.pool.resize(tc.start[keep]);
  tc.start.resize(keep);
  tc.result.resize(keep);
  for (int& id : tc.leaf_id)
    if (id >= 0 && static_cast<std::size_t>(id) >= keep) id = -1;
  rehash_classes(tc);
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
