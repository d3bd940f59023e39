// The fragment hash table and the per-compound occurrence store.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <string>

#include "table/table.h"
#include "table/text_buffer.h"

namespace sarvik {

namespace {

constexpr const char* kModule = "table";

// Appends the entry (id, 1) to the list in the making and returns its index.
int append_entry(OccurrenceStore& occ, int id) {
  occ.csr.push_back(CSR{id, 1});
  return static_cast<int>(occ.csr.size()) - 1;
}

// ---- the spill of the occurrence lists ----

// Bytes held before a spill with a file writes them out.
constexpr std::size_t kSpillBlock = std::size_t{1} << 20;

void spill_append(Spill& s, const char* data, std::size_t n) {
  // Large pieces (a chunk's lists) go to the file as they are.
  if (s.file.append && n >= kSpillBlock / 16) {
    spill_flush(s);
    s.file.append(std::string_view(data, n));
    s.size += n;
    s.held_from = s.size;
    return;
  }
  s.held.insert(s.held.end(), data, data + n);
  s.size += n;
  if (s.file.append && s.held.size() >= kSpillBlock) spill_flush(s);
}

// The bytes [a, b) of the spill: where it holds them, or read back into buf.
std::string_view spill_bytes(const Spill& s, std::uint64_t a, std::uint64_t b,
                             std::vector<char>& buf) {
  SARVIK_ASSERT(a <= b && b <= s.size, kModule);
  if (a >= s.held_from)
    return std::string_view(s.held.data() + (a - s.held_from), static_cast<std::size_t>(b - a));
  // Spills are flushed before they are read.
  SARVIK_ASSERT(b <= s.held_from, kModule);
  buf.resize(static_cast<std::size_t>(b - a));
  if (!buf.empty()) s.file.read(a, buf.data(), buf.size());
  return std::string_view(buf.data(), buf.size());
}

// Unsigned LEB128: seven bits a byte, low bits first.
inline char* put_varint(char* p, std::uint64_t v) {
  while (v >= 0x80) {
    *p++ = static_cast<char>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<char>(v);
  return p;
}

inline std::uint64_t get_varint(const char*& p, const char* end) {
  SARVIK_ASSERT(p < end, kModule);
  // One byte, as most counts and small ids take.
  if (static_cast<unsigned char>(*p) < 0x80) return static_cast<unsigned char>(*p++);
  std::uint64_t v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    SARVIK_ASSERT(p < end, kModule);
    const unsigned char b = static_cast<unsigned char>(*p++);
    v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
    if (b < 0x80) return v;
  }
  SARVIK_ASSERT(false, kModule);
  return v;
}

// Appends compound `compound`'s record (`n` bytes at data) to the length's
// part of the spill, the lists of the compounds waiting before it first.
void append_record(OccurrenceStore& occ, OccurrenceStore::Length& l, int compound,
                   const char* data, std::size_t n) {
  if (!l.any) {
    l.any = true;
    for (int j = compound - l.waiting; j < compound; ++j) {
      if (j % kOccurrenceBlock == 0) l.block_at.push_back(occ.spill.size);
      const char empty = 0;
      spill_append(occ.spill, &empty, 1);
    }
    l.waiting = 0;
  }
  if (compound % kOccurrenceBlock == 0) l.block_at.push_back(occ.spill.size);
  spill_append(occ.spill, data, n);
  l.end = occ.spill.size;
}

// Calls f with a value of the unsigned type `width` bytes wide (1, 2 or 4).
template <class F>
void with_width(int width, F&& f) {
  if (width == 1)
    f(std::uint8_t{});
  else if (width == 2)
    f(std::uint16_t{});
  else
    f(std::uint32_t{});
}

template <class T>
void put_values(unsigned char*& dst, const int* src, int n) {
  for (int i = 0; i < n; ++i) {
    const T x = static_cast<T>(src[i]);
    std::memcpy(dst, &x, sizeof(T));
    dst += sizeof(T);
  }
}

template <class T>
void get_values(const unsigned char*& src, int* dst, int n) {
  for (int i = 0; i < n; ++i) {
    T x;
    std::memcpy(&x, src, sizeof(T));
    dst[i] = static_cast<int>(x);
    src += sizeof(T);
  }
}

template <class T>
void pack_as(const Graph& g, unsigned char* dst) {
  const int head[2] = {g.vs, g.es};
  put_values<T>(dst, head, 2);
  put_values<T>(dst, g.v.data(), g.vs);
  put_values<T>(dst, g.vl.data(), g.vs);
  put_values<T>(dst, g.e.data(), g.es);
  put_values<T>(dst, g.el.data(), g.es);
}


template <class T>
void unpack_as(const unsigned char* src, Graph& g) {
  int head[2];
  get_values<T>(src, head, 2);
  g.vs = head[0];
  g.es = head[1];
  g.v.resize(g.vs + 1);
  g.vl.resize(g.vs);
  g.e.resize(g.es);
  g.el.resize(g.es);
  get_values<T>(src, g.v.data(), g.vs);
  g.v[g.vs] = g.es;
  get_values<T>(src, g.vl.data(), g.vs);
  get_values<T>(src, g.e.data(), g.es);
  get_values<T>(src, g.el.data(), g.es);
}


int element_at(const unsigned char* src, int width) {
  if (width == 1) return src[0];
  if (width == 2) {
    std::uint16_t x;
    std::memcpy(&x, src, 2);
    return x;
  }
  std::uint32_t x;
  std::memcpy(&x, src, 4);
  return static_cast<int>(x);
}

// Re-lays n elements of `from` bytes each at src as `to` bytes each (wider) at dst.
void relay(const unsigned char* src, int from, std::size_t n, unsigned char* dst, int to) {
  for (std::size_t i = 0; i < n; ++i) {
    const int x = element_at(src + i * static_cast<std::size_t>(from), from);
    if (to == 2) {
      const std::uint16_t y = static_cast<std::uint16_t>(x);
      std::memcpy(dst + i * 2, &y, 2);
    } else {
      const std::uint32_t y = static_cast<std::uint32_t>(x);
      std::memcpy(dst + i * 4, &y, 4);
    }
  }
}

// Re-lays every form of t at `width` bytes per element (wider than now).
void widen(FragmentTable& t, int width) {
  const std::size_t n = t.packed.size() / static_cast<std::size_t>(t.width);
  std::vector<unsigned char> wide(n * static_cast<std::size_t>(width));
  relay(t.packed.data(), t.width, n, wide.data(), width);
  t.packed.swap(wide);
  t.width = width;
}

// ---- index of the live fragments by key ----

std::size_t index_home(unsigned key, std::size_t mask) {
  return fibonacci_home(key, 29) & mask;
}

void index_insert(FragmentTable& t, unsigned key, int live) {
  const std::size_t mask = t.index.size() - 1;
  const std::size_t h =
      probe_from(index_home(key, mask), mask, [&t](std::size_t at) { return t.index[at].live == 0; });
  t.index[h] = FragmentTable::Index{key, live + 1};
}

// Keeps the index at most half full for one more fragment.
void index_reserve(FragmentTable& t) {
  if (2 * (t.live.size() + 1) <= t.index.size()) return;
  std::size_t n = t.index.size() < 1024 ? 1024 : 2 * t.index.size();
  while (2 * (t.live.size() + 1) > n) n *= 2;
  t.index.assign(n, FragmentTable::Index{0, 0});
  for (std::size_t i = 0; i < t.live.size(); ++i)
    index_insert(t, t.live[i].key, static_cast<int>(i));
}

// The live fragment equal to the packed probe (`bytes` long, key `key`), or -1.
int index_find(const FragmentTable& t, unsigned key, std::size_t bytes) {
  if (t.index.empty()) return -1;
  const std::size_t mask = t.index.size() - 1;
  const std::size_t head = 2 * static_cast<std::size_t>(t.width);
  const unsigned char* probe = t.probe.data();
  for (std::size_t h = index_home(key, mask); t.index[h].live != 0; h = (h + 1) & mask) {
    if (t.index[h].key != key) continue;
    const int i = t.index[h].live - 1;
    const unsigned char* form = t.packed.data() + static_cast<std::size_t>(t.live[i].at) * t.width;
    // vs and es first: equal sizes mean equal lengths of the forms.
    if (std::memcmp(form, probe, head) == 0 &&
        std::memcmp(form + head, probe + head, bytes - head) == 0)
      return i;
  }
  return -1;
}

// ---- slots ----

bool slot_bit(const FragmentTable& t, unsigned s) {
  return (t.occupied[s >> 6] >> (s & 63)) & 1u;
}

// The first free slot in probe order start, start + 1, ..., size - 1, 0, ...,
// start - 1, or -1 when every slot is occupied. Affects output: this is the slot
// linear probing with step 1 and wrap-around reaches, hence the descriptor order.
int first_free_slot(const FragmentTable& t, unsigned start) {
  const std::uint64_t* occ = t.occupied.data();
  const std::size_t words = t.occupied.size();
  std::size_t w = start >> 6;
  std::uint64_t free = ~occ[w] & (~std::uint64_t{0} << (start & 63));
  // Bits past the last slot are set, so a wrap lands on slot 0's word; one more
  // word than the table has brings back the bits below start.
  for (std::size_t n = 0; n <= words; ++n) {
    if (free != 0) return static_cast<int>((w << 6) + static_cast<unsigned>(std::countr_zero(free)));
    if (++w == words) w = 0;
    free = ~occ[w];
  }
  return -1;
}

// Whether every atom label of the run fits a record of the rule's format.
bool all_labels_fit(const SweepRule& rule) {
  if (rule.format != Format::sd) return true;
  for (const std::string& l : rule.ls->vl.buf)
    if (l.empty() || l.size() > 3) return false;
  return true;
}

// A label an SD record cannot hold ends the run at the sweep, before anything
// after this length, however the records are written.
void check_record_labels(const unsigned char* form, int width, const SweepRule& rule,
                         bool labels_fit, int id) {
  if (labels_fit) return;
  const int vs = element_at(form, width);
  for (int i = 0; i < vs; ++i) {
    const int l = element_at(form + static_cast<std::size_t>(2 + vs + i) * width, width);
    SARVIK_ASSERT(l >= 0 && l < static_cast<int>(rule.ls->vl.buf.size()), kModule);
    check_sd_atom_label(rule.ls->vl.buf[l], id);
  }
}

// Drops the live fragments, which invalidates every live index handed out. The
// index is cleared only when the length entered something, so that long runs of
// empty lengths cost nothing.
void drop_live(FragmentTable& t) {
  if (!t.live.empty()) std::fill(t.index.begin(), t.index.end(), FragmentTable::Index{0, 0});
  t.order.clear();
  t.live.clear();
  t.packed.clear();
  t.width = 1;
  ++t.generation;
}

}  // namespace

int form_width(const Graph& g) {
  unsigned hi = static_cast<unsigned>(g.vs) | static_cast<unsigned>(g.es);
  for (int i = 0; i < g.vs; ++i) hi |= static_cast<unsigned>(g.v[i]) | static_cast<unsigned>(g.vl[i]);
  for (int j = 0; j < g.es; ++j) hi |= static_cast<unsigned>(g.e[j]) | static_cast<unsigned>(g.el[j]);
  return hi <= 0xFFu ? 1 : hi <= 0xFFFFu ? 2 : 4;
}

void pack_form(const Graph& g, int width, unsigned char* dst) {
  with_width(width, [&](auto t) { pack_as<decltype(t)>(g, dst); });
}

void unpack_form(const unsigned char* src, int width, Graph& g) {
  with_width(width, [&](auto t) { unpack_as<decltype(t)>(src, g); });
}

int form_vertices(const unsigned char* src, int width) { return element_at(src, width); }

void occurrences_init(OccurrenceStore& occ, int total, SpillFile file) {
  occ = OccurrenceStore{};
  occ.total = total;
  occ.csr.reserve(CSR_LEN);
  occ.spill.file = std::move(file);
}

void occurrences_begin_length(OccurrenceStore& occ) {
  SARVIK_ASSERT(occ.lengths.empty() || occ.next == occ.total, kModule);
  occ.lengths.emplace_back();
  occ.next = 0;
  occ.csr.clear();
}

void csr_encode(const CSR* entries, std::size_t n, std::vector<char>& out) {
  const std::size_t at = out.size();
  // Room for the longest: 10 bytes a count, 5 an id.
  out.resize(at + 10 + 15 * n);
  char* p = out.data() + at;
  p = put_varint(p, n);
  for (std::size_t j = 0; j < n; ++j) {
    SARVIK_ASSERT(entries[j].id >= 0, kModule);
    p = put_varint(p, static_cast<std::uint32_t>(entries[j].id));
    p = put_varint(p, entries[j].freq);
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
}

void csr_end_length(OccurrenceStore& occ, int compid) {
  SARVIK_ASSERT(!occ.lengths.empty() && compid == occ.next && compid < occ.total, kModule);
  OccurrenceStore::Length& l = occ.lengths.back();
  ++occ.next;
  // A length no compound has reached so far spills nothing yet.
  if (occ.csr.empty() && !l.any) {
    ++l.waiting;
    return;
  }
  std::vector<char>& record = occ.record;
  record.clear();
  csr_encode(occ.csr.data(), occ.csr.size(), record);
  occ.csr.clear();
  append_record(occ, l, compid, record.data(), record.size());
}

void csr_append_encoded(OccurrenceStore& occ, std::string_view bytes,
                        const std::vector<std::size_t>& starts) {
  SARVIK_ASSERT(!occ.lengths.empty() && occ.csr.empty(), kModule);
  OccurrenceStore::Length& l = occ.lengths.back();
  const std::size_t n = starts.size();
  SARVIK_ASSERT(occ.next + static_cast<std::int64_t>(n) <= occ.total, kModule);
  std::size_t j = 0;
  // Empty lists (one byte 0 each) before the length's first entry wait.
  while (!l.any && j < n && bytes[starts[j]] == 0) {
    ++l.waiting;
    ++j;
  }
  if (j == n) {
    occ.next += static_cast<int>(n);
    return;
  }
  append_record(occ, l, occ.next + static_cast<int>(j), bytes.data() + starts[j],
                (j + 1 < n ? starts[j + 1] : bytes.size()) - starts[j]);
  // The rest at once.
  if (++j < n) {
    const std::uint64_t at = occ.spill.size;
    for (std::size_t k = j; k < n; ++k)
      if ((occ.next + static_cast<int>(k)) % kOccurrenceBlock == 0)
        l.block_at.push_back(at + (starts[k] - starts[j]));
    spill_append(occ.spill, bytes.data() + starts[j], bytes.size() - starts[j]);
    l.end = occ.spill.size;
  }
  occ.next += static_cast<int>(n);
}

void occurrences_name_descriptors(OccurrenceStore& occ, const std::vector<int>& map) {
  for (OccurrenceStore::Length& l : occ.lengths) {
    if (l.named || l.id_of.empty()) continue;
    for (int& id : l.id_of) {
      SARVIK_ASSERT(id >= 0 && id < static_cast<int>(map.size()), kModule);
      id = id > 0 ? map[static_cast<std::size_t>(id)] : -1;
    }
    l.named = true;
  }
}

void block_lists_open(const OccurrenceStore& occ, int block, BlockLists& r) {
  r.cursors.clear();
  const std::size_t b = static_cast<std::size_t>(block);
  for (const OccurrenceStore::Length& l : occ.lengths) {
    if (!l.any) continue;
    SARVIK_ASSERT(b < l.block_at.size(), kModule);
    const std::uint64_t end = b + 1 < l.block_at.size() ? l.block_at[b + 1] : l.end;
    if (r.bufs.size() <= r.cursors.size()) r.bufs.resize(r.cursors.size() + 1);
    const std::string_view bytes = spill_bytes(occ.spill, l.block_at[b], end, r.bufs[r.cursors.size()]);
    r.cursors.push_back(BlockLists::Cursor{bytes.data(), bytes.data() + bytes.size(), &l.id_of, l.named});
  }
}

void block_lists_next(BlockLists& r, const std::vector<int>& map,
                      std::vector<DescriptorCount>& pairs) {
  pairs.clear();
  const int mapsize = static_cast<int>(map.size());
  // Affects output: pairs follow the list order (length, then first meeting).
  for (BlockLists::Cursor& c : r.cursors) {
    const std::uint64_t n = get_varint(c.at, c.end);
    // Ids are fragment ids (through map) or the length's own (through id_of).
    const bool own = !c.id_of->empty();
    SARVIK_ASSERT(!own || c.named, kModule);
    const int* const id_map = own ? c.id_of->data() : map.data();
    const std::uint64_t ids = own ? c.id_of->size() : static_cast<std::uint64_t>(mapsize);
    for (std::uint64_t j = 0; j < n; ++j) {
      const std::uint64_t id = get_varint(c.at, c.end);
      const std::uint64_t freq = get_varint(c.at, c.end);
      SARVIK_ASSERT((own || id > 0) && id < ids, kModule);
      const int d = id_map[id];
      if (d != -1) pairs.push_back(DescriptorCount{d, freq});
    }
  }
}

void spill_flush(Spill& spill) {
  if (!spill.file.append || spill.held.empty()) return;
  spill.file.append(std::string_view(spill.held.data(), spill.held.size()));
  spill.held_from = spill.size;
  spill.held.clear();
}

FragmentTable initialize_hash(int size) {
  SARVIK_ASSERT(size > 0, kModule);
  FragmentTable t;
  t.size = size;
  const std::size_t words = (static_cast<std::size_t>(size) + 63) / 64;
  t.occupied.assign(words, 0);
  if (size % 64 != 0) t.occupied[words - 1] = ~std::uint64_t{0} << (size % 64);
  return t;
}

unsigned generate_hash(const Graph& G, int size) {
  return G.key % static_cast<unsigned>(size);
}

namespace {

// n in decimal with a comma between groups of three digits (n >= 0).
std::string with_commas(int n) {
  const std::string digits = std::to_string(n);
  std::string text;
  for (std::size_t k = 0; k < digits.size(); ++k) {
    if (k > 0 && (digits.size() - k) % 3 == 0) text += ',';
    text += digits[k];
  }
  return text;
}

// Records one more occurrence of live fragment f in compound compid.
void record_occurrence(FragmentTable::Live& f, OccurrenceStore& occ, int compid) {
  // Compounds of one length are entered one after another, and live fragments
  // are those of this length, so the compound's list in the making holds the
  // fragment exactly when the compound is the last one that met it.
  SARVIK_ASSERT(compid == occ.next, kModule);
  const bool known = f.last_comp == compid;
#ifdef SARVIK_EXPENSIVE_CHECKS
  SARVIK_ASSERT(find(occ.csr, static_cast<int>(occ.csr.size()), 0, f.id) ==
                    (known ? f.last_entry : -1),
                kModule);
#endif
  if (known) {
    SARVIK_ASSERT(f.last_entry < static_cast<int>(occ.csr.size()) &&
                      occ.csr[f.last_entry].id == f.id,
                  kModule);
    csr_count_one(occ, f.last_entry);
  } else {
    ++f.count;
    f.last_comp = compid;
    f.last_entry = append_entry(occ, f.id);
  }
}

// Checks G's shape (a tree) and lays its form into t.probe; returns its length.
std::size_t pack_probe(const Graph& G, FragmentTable& t) {
  SARVIK_ASSERT(G.vs >= 2 && G.es == 2 * (G.vs - 1), kModule);
  SARVIK_ASSERT(static_cast<int>(G.v.size()) > G.vs && static_cast<int>(G.vl.size()) >= G.vs &&
                    static_cast<int>(G.e.size()) >= G.es && static_cast<int>(G.el.size()) >= G.es,
                kModule);
  const int w = form_width(G);
  if (w > t.width) widen(t, w);
  const std::size_t bytes = form_bytes(G.vs, G.es, t.width);
  if (t.probe.size() < bytes) t.probe.resize(bytes);
  pack_form(G, t.width, t.probe.data());
  return bytes;
}

// Lays the form at `width` into t.probe at the table's width; returns its length.
std::size_t copy_probe(const unsigned char* form, int width, FragmentTable& t) {
  if (width > t.width) widen(t, width);
  const int vs = element_at(form, width);
  const int es = element_at(form + width, width);
  SARVIK_ASSERT(vs >= 2 && es == 2 * (vs - 1), kModule);
  const std::size_t bytes = form_bytes(vs, es, t.width);
  if (t.probe.size() < bytes) t.probe.resize(bytes);
  if (width == t.width)
    std::memcpy(t.probe.data(), form, bytes);
  else
    relay(form, width, bytes / static_cast<std::size_t>(t.width), t.probe.data(), t.width);
  return bytes;
}

// Enters the probe (`bytes` long, key `key`) for compound compid.
int enter_probe(std::size_t bytes, unsigned key, FragmentTable& t, OccurrenceStore& occ,
                int compid) {
  SARVIK_ASSERT(compid >= 0 && compid < occ.total, kModule);
  // Slots are never freed, so the slots from a fragment's home slot to its own
  // slot stay occupied: probing from the home slot reaches an equal fragment of
  // this length before any free slot. A match found by key is therefore the
  // match probing finds, and a new fragment gets the first free slot.
  const int i = index_find(t, key, bytes);
  if (i >= 0) {
#ifdef SARVIK_EXPENSIVE_CHECKS
    const unsigned start = key % static_cast<unsigned>(t.size);
    for (unsigned s = start; s != static_cast<unsigned>(t.live[i].slot);) {
      SARVIK_ASSERT(slot_bit(t, s), kModule);
      if (++s == static_cast<unsigned>(t.size)) s = 0;
    }
#endif
    record_occurrence(t.live[i], occ, compid);
    return i;
  }

  // A new fragment: the next fragment id and a slot, its form, and the first
  // entry of the compound.
  const int s = table_place_fragment(t, key);
  index_reserve(t);
  const std::size_t at = t.packed.size() / t.width;
  SARVIK_ASSERT(at <= static_cast<std::size_t>(INT32_MAX), kModule);
  t.packed.insert(t.packed.end(), t.probe.begin(), t.probe.begin() + static_cast<std::ptrdiff_t>(bytes));
  t.live.push_back(FragmentTable::Live{key, s, t.count, 1, compid, append_entry(occ, t.count),
                                       static_cast<int>(at)});
  const int live = static_cast<int>(t.live.size()) - 1;
  index_insert(t, key, live);
  return live;
}

}  // namespace

void count_occurrences(FragmentTable& t, OccurrenceStore& occ, int live, int compid,
                       std::uint64_t n) {
  SARVIK_ASSERT(live >= 0 && live < static_cast<int>(t.live.size()) && n > 0, kModule);
  FragmentTable::Live& f = t.live[live];
  record_occurrence(f, occ, compid);
  if (n > 1) csr_count_add(occ, f.last_entry, n - 1);
}

void count_occurrence_slow(FragmentTable& t, OccurrenceStore& occ, int live, int compid) {
  SARVIK_ASSERT(live >= 0 && live < static_cast<int>(t.live.size()), kModule);
  SARVIK_ASSERT(compid >= 0 && compid < occ.total, kModule);
  record_occurrence(t.live[live], occ, compid);
}

int table_find(FragmentTable& t, const Graph& G) {
  const std::size_t bytes = pack_probe(G, t);
  return index_find(t, G.key, bytes);
}

int hash_graph(const Graph& G, FragmentTable& hashg, OccurrenceStore& occ, int compid) {
  const std::size_t bytes = pack_probe(G, hashg);
  return enter_probe(bytes, G.key, hashg, occ, compid);
}

int hash_form(const unsigned char* form, int width, unsigned key, FragmentTable& hashg,
              OccurrenceStore& occ, int compid) {
  const std::size_t bytes = copy_probe(form, width, hashg);
  return enter_probe(bytes, key, hashg, occ, compid);
}

int find(const std::vector<CSR>& array, int size, int offset, int key) {
  for (int j = offset; j < size; ++j)
    if (array[j].id == key) return j;
  return -1;
}

void sweep_length(FragmentTable& hashg, const SweepRule& rule, int& k, std::vector<int>& map,
                  FragmentRecords& records) {
  FragmentTable& t = hashg;
  records.records.clear();
  if (map.size() < static_cast<std::size_t>(t.count) + 1)
    map.resize(static_cast<std::size_t>(t.count) + 1, -1);
  const bool labels_fit = all_labels_fit(rule);
  // Affects output: descriptor ids are given in ascending slot order.
  t.order.clear();
  t.order.reserve(t.live.size());
  for (std::size_t i = 0; i < t.live.size(); ++i)
    t.order.push_back((static_cast<std::uint64_t>(t.live[i].slot) << 32) | i);
  std::sort(t.order.begin(), t.order.end());
  for (const std::uint64_t o : t.order) {
    const FragmentTable::Live& f = t.live[static_cast<std::size_t>(o & 0xFFFFFFFFu)];
    SARVIK_ASSERT(f.id > 0 && slot_bit(t, static_cast<unsigned>(f.slot)), kModule);
    if (f.count >= rule.freqt) {
      ++k;
      map[f.id] = k;
      const unsigned char* form = t.packed.data() + static_cast<std::size_t>(f.at) * t.width;
      records.records.push_back(FragmentRecords::Record{f.id, f.key, form, t.width});
      check_record_labels(form, t.width, rule, labels_fit, f.id);
    }
  }
  // The forms go with the records (a vector's swap keeps its elements where
  // they are); the slots stay occupied under their ids but hold no graph from
  // now on.
  records.packed.swap(t.packed);
  drop_live(t);
}

void table_next_length(FragmentTable& t) { drop_live(t); }

int table_place_fragment(FragmentTable& t, unsigned key) {
  const int s = first_free_slot(t, key % static_cast<unsigned>(t.size));
  if (s < 0)
    error(ErrorKind::table_full,
          "HASH TABLE FULL: INCREASE THE SIZE\nthe fragment table holds at most " +
              with_commas(t.size) +
              " distinct fragments over all lengths of a run: sweep fewer lengths (-lmin, "
              "-lmax), keep only path fragments (-ds PF), or split the collection into smaller "
              "runs\n");
  ++t.count;
  SARVIK_ASSERT(t.count > 0, kModule);
  t.occupied[static_cast<unsigned>(s) >> 6] |= std::uint64_t{1} << (s & 63);
  ++t.used;
  return s;
}

void sweep_fragments(std::vector<SweptFragment>& fragments, int ids, const SweepRule& rule,
                     int& k, std::vector<int>& map, FragmentRecords& records) {
  records.records.clear();
  records.packed.clear();
  if (map.size() < static_cast<std::size_t>(ids) + 1) map.resize(static_cast<std::size_t>(ids) + 1, -1);
  const bool labels_fit = all_labels_fit(rule);
  // Affects output: descriptor ids are given in ascending slot order.
  std::vector<std::uint64_t> order(fragments.size());
  for (std::size_t i = 0; i < fragments.size(); ++i)
    order[i] = static_cast<std::uint64_t>(fragments[i].slot) << 32 | i;
  std::sort(order.begin(), order.end());
  for (const std::uint64_t o : order) {
    const SweptFragment& f = fragments[static_cast<std::size_t>(o & 0xFFFFFFFFu)];
    SARVIK_ASSERT(f.id > 0 && f.id <= ids, kModule);
    if (f.count < rule.freqt) continue;
    ++k;
    map[f.id] = k;
    records.records.push_back(FragmentRecords::Record{f.id, f.key, f.form, f.width});
    check_record_labels(f.form, f.width, rule, labels_fit, f.id);
  }
}

int form_index(FormDictionary& d, const unsigned char* form, int width, unsigned key) {
  const std::size_t s = key & ((std::size_t{1} << kFormShardBits) - 1);
  FormDictionary::Shard& sh = d.shards[s];
  const std::size_t head = 2 * static_cast<std::size_t>(width);
  const std::size_t bytes =
      form_bytes(element_at(form, width), element_at(form + width, width), width);
  std::lock_guard<std::mutex> lk(sh.m);
  // At most half full, with room for one more.
  if (2 * (sh.entries.size() + 1) > sh.index.size()) {
    sh.index.assign(std::max<std::size_t>(256, 2 * sh.index.size()), 0);
    const std::size_t mask = sh.index.size() - 1;
    for (std::size_t e = 0; e < sh.entries.size(); ++e) {
      const std::size_t h = probe_from(fibonacci_home(sh.entries[e].key, 32) & mask, mask,
                                       [&sh](std::size_t at) { return sh.index[at] == 0; });
      sh.index[h] = static_cast<std::uint32_t>(e + 1);
    }
  }
  const std::size_t mask = sh.index.size() - 1;
  std::size_t h = fibonacci_home(key, 32) & mask;
  for (; sh.index[h] != 0; h = (h + 1) & mask) {
    const FormDictionary::Entry& x = sh.entries[sh.index[h] - 1];
    const unsigned char* other = sh.forms.data() + x.at;
    // vs and es first: equal sizes mean equal lengths of the forms.
    if (x.key == key && x.width == width && std::memcmp(other, form, head) == 0 &&
        std::memcmp(other + head, form + head, bytes - head) == 0)
      return static_cast<int>((static_cast<std::size_t>(sh.index[h] - 1) << kFormShardBits) | s);
  }
  sh.entries.push_back(FormDictionary::Entry{key, width, sh.forms.size()});
  sh.forms.insert(sh.forms.end(), form, form + bytes);
  sh.index[h] = static_cast<std::uint32_t>(sh.entries.size());
  const std::size_t i = ((sh.entries.size() - 1) << kFormShardBits) | s;
  SARVIK_ASSERT(i <= static_cast<std::size_t>(INT32_MAX), kModule);
  return static_cast<int>(i);
}

const unsigned char* form_at(const FormDictionary& d, int i, int* width, unsigned* key) {
  const FormDictionary::Shard& sh =
      d.shards[static_cast<std::size_t>(i) & ((std::size_t{1} << kFormShardBits) - 1)];
  const FormDictionary::Entry& x = sh.entries[static_cast<std::size_t>(i) >> kFormShardBits];
  *width = x.width;
  *key = x.key;
  return sh.forms.data() + x.at;
}

void form_dictionary_clear(FormDictionary& d) {
  for (FormDictionary::Shard& sh : d.shards) {
    if (sh.entries.empty()) continue;
    sh.entries.clear();
    sh.forms.clear();
    std::fill(sh.index.begin(), sh.index.end(), 0);
  }
}

void write_fragment_records(const FragmentRecords& records, const LabelSet& labels, Format format,
                            int threads, const TextSink& sink, const std::atomic<bool>* cancel) {
  constexpr int kBlock = 256;  // records laid out together
  const int n = static_cast<int>(records.records.size());
  const SdLayout sd = format == Format::sd ? sd_layout(labels) : SdLayout{};
  write_in_order((n + kBlock - 1) / kBlock, threads, sink, cancel, [&](int b, TextBuffer& text) {
    Graph g;  // grows to the block's largest record
    for (int r = b * kBlock; r < std::min(n, (b + 1) * kBlock); ++r) {
      const FragmentRecords::Record& rec = records.records[static_cast<std::size_t>(r)];
      unpack_form(rec.form, rec.width, g);
      g.key = rec.key;
      if (format == Format::sd)
        append_sdf_record(g, rec.id, sd, text);
      else
        append_mol2_record(g, rec.id, labels, text);
    }
  });
}

}  // namespace sarvik
