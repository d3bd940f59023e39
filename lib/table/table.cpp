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

// Appends the entry (id, 1) to compound compid's list and returns its index. The
// capacity bookkeeping doubles top (100, 200, 400, ...) when the list is full;
// the list itself grows by half, which leaves less unused room in the lists of
// a long run, whose total is the run's largest store.
int append_entry(OccurrenceStore& occ, int id, int compid) {
  CSRcount& cc = occ.csrcount[compid];
  std::vector<CSR>& list = occ.csr[compid];
  SARVIK_ASSERT(cc.offset <= cc.size, kModule);
  if (cc.size >= cc.top) cc.top = cc.top > 0 ? 2 * cc.top : CSR_LEN;
  if (list.size() == list.capacity()) list.reserve(list.capacity() + list.capacity() / 2 + 16);
  const int at = cc.size;
  if (static_cast<int>(list.size()) > at)
    list[at] = CSR{id, 1};
  else
    list.push_back(CSR{id, 1});
  ++cc.size;
  return at;
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

void occurrences_init(OccurrenceStore& occ, int total) {
  occ.csrcount.assign(static_cast<std::size_t>(total), CSRcount{0, CSR_LEN, 0});
  occ.csr.assign(static_cast<std::size_t>(total), std::vector<CSR>());
  for (std::vector<CSR>& list : occ.csr) list.reserve(CSR_LEN);
  occ.csr_carry.clear();
}

void csr_count_add(OccurrenceStore& occ, int compid, int entry, std::uint64_t n) {
  CSR& e = occ.csr[compid][entry];
  const std::uint64_t sum = static_cast<std::uint64_t>(e.freq) + n;
  e.freq = static_cast<std::uint32_t>(sum);
  if (sum >> 32)
    occ.csr_carry[static_cast<std::uint64_t>(compid) << 32 | static_cast<std::uint32_t>(entry)] +=
        sum >> 32;
}

std::uint64_t csr_occurrences(const OccurrenceStore& occ, int compid, int entry) {
  const std::uint64_t low = occ.csr[compid][entry].freq;
  if (occ.csr_carry.empty()) return low;
  const auto it = occ.csr_carry.find(static_cast<std::uint64_t>(compid) << 32 |
                                     static_cast<std::uint32_t>(entry));
  return it == occ.csr_carry.end() ? low : it->second << 32 | low;
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
  // Compounds of one length are entered one after another, so the compound has
  // an entry of this length exactly when it is the last one that met the
  // fragment and that entry lies at or after its offset.
  const CSRcount& cc = occ.csrcount[compid];
  const bool known = f.last_comp == compid && f.last_entry >= cc.offset;
#ifdef SARVIK_EXPENSIVE_CHECKS
  SARVIK_ASSERT(find(occ.csr[compid], cc.size, cc.offset, f.id) == (known ? f.last_entry : -1),
                kModule);
#endif
  if (known) {
    SARVIK_ASSERT(f.last_entry < cc.size && occ.csr[compid][f.last_entry].id == f.id, kModule);
    csr_count_one(occ, compid, f.last_entry);
  } else {
    ++f.count;
    f.last_comp = compid;
    f.last_entry = append_entry(occ, f.id, compid);
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
  SARVIK_ASSERT(compid >= 0 && compid < static_cast<int>(occ.csrcount.size()), kModule);
  const unsigned start = key % static_cast<unsigned>(t.size);
  // Slots are never freed, so the slots from a fragment's home slot to its own
  // slot stay occupied: probing from the home slot reaches an equal fragment of
  // this length before any free slot. A match found by key is therefore the
  // match probing finds, and a new fragment gets the first free slot.
  const int i = index_find(t, key, bytes);
  if (i >= 0) {
#ifdef SARVIK_EXPENSIVE_CHECKS
    for (unsigned s = start; s != static_cast<unsigned>(t.live[i].slot);) {
      SARVIK_ASSERT(slot_bit(t, s), kModule);
      if (++s == static_cast<unsigned>(t.size)) s = 0;
    }
#endif
    record_occurrence(t.live[i], occ, compid);
    return i;
  }

  const int s = first_free_slot(t, start);
  if (s < 0)
    error(ErrorKind::table_full,
          "HASH TABLE FULL: INCREASE THE SIZE\nthe fragment table holds at most " +
              with_commas(t.size) +
              " distinct fragments over all lengths of a run: sweep fewer lengths (-lmin, "
              "-lmax), keep only path fragments (-ds PF), or split the collection into smaller "
              "runs\n");
  // A new fragment: the next fragment id, its form, and the first entry of the
  // compound.
  ++t.count;
  SARVIK_ASSERT(t.count > 0, kModule);
  t.occupied[static_cast<unsigned>(s) >> 6] |= std::uint64_t{1} << (s & 63);
  ++t.used;
  index_reserve(t);
  const std::size_t at = t.packed.size() / t.width;
  SARVIK_ASSERT(at <= static_cast<std::size_t>(INT32_MAX), kModule);
  t.packed.insert(t.packed.end(), t.probe.begin(), t.probe.begin() + static_cast<std::ptrdiff_t>(bytes));
  t.live.push_back(FragmentTable::Live{key, s, t.count, 1, compid, append_entry(occ, t.count, compid),
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
  if (n > 1) csr_count_add(occ, compid, f.last_entry, n - 1);
}

void count_occurrence(FragmentTable& t, OccurrenceStore& occ, int live, int compid) {
  SARVIK_ASSERT(live >= 0 && live < static_cast<int>(t.live.size()), kModule);
  SARVIK_ASSERT(compid >= 0 && compid < static_cast<int>(occ.csrcount.size()), kModule);
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
      records.records.push_back(FragmentRecords::Record{f.id, f.key, f.at});
      // A label an SD record cannot hold ends the run here, before anything
      // after this length, however the records are written.
      if (rule.format == Format::sd) {
        const unsigned char* form = t.packed.data() + static_cast<std::size_t>(f.at) * t.width;
        const int vs = element_at(form, t.width);
        for (int i = 0; i < vs; ++i) {
          const int l = element_at(form + static_cast<std::size_t>(2 + vs + i) * t.width, t.width);
          SARVIK_ASSERT(l >= 0 && l < static_cast<int>(rule.ls->vl.buf.size()), kModule);
          check_sd_atom_label(rule.ls->vl.buf[l], f.id);
        }
      }
    }
  }
  // The forms go with the records; the slots stay occupied under their ids but
  // hold no graph from now on.
  records.packed.swap(t.packed);
  records.width = t.width;
  drop_live(t);
}

void write_fragment_records(const FragmentRecords& records, const LabelSet& labels, Format format,
                            int threads, const TextSink& sink, const std::atomic<bool>* cancel) {
  constexpr int kBlock = 256;  // records laid out together
  const int n = static_cast<int>(records.records.size());
  write_in_order((n + kBlock - 1) / kBlock, threads, sink, cancel, [&](int b, TextBuffer& text) {
    Graph g;  // grows to the block's largest record
    for (int r = b * kBlock; r < std::min(n, (b + 1) * kBlock); ++r) {
      const FragmentRecords::Record& rec = records.records[static_cast<std::size_t>(r)];
      unpack_form(records.packed.data() + static_cast<std::size_t>(rec.at) * records.width,
                  records.width, g);
      g.key = rec.key;
      if (format == Format::sd)
        append_sdf_record(g, rec.id, labels, text);
      else
        append_mol2_record(g, rec.id, labels, text);
    }
  });
}

void table_begin_space_length(FragmentTable& t, const std::vector<int>& ids, std::vector<int>& map) {
  drop_live(t);
  for (const int id : ids) {
    SARVIK_ASSERT(id > 0, kModule);
    if (map.size() < static_cast<std::size_t>(id) + 1) map.resize(static_cast<std::size_t>(id) + 1, -1);
    map[id] = id;
    t.live.push_back(FragmentTable::Live{0, -1, id, 0, -1, -1, 0});
  }
}

int table_end_space_length(FragmentTable& t) {
  int met = 0;
  for (const FragmentTable::Live& f : t.live) met += f.count > 0;
  drop_live(t);
  return met;
}

}  // namespace sarvik
