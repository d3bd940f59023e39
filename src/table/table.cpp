// The fragment hash table and the per-compound occurrence store.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "canon/cl_freq.h"
#include "table/table.h"

namespace {

constexpr const char* kModule = "generate_all_trees_freq";

// Appends the entry (id, 1) to compound compid's list and returns its index. The
// capacity bookkeeping doubles top (100, 200, 400, ...) when the list is full.
int append_entry(int id, int compid) {
  CSRcount& cc = csrcount[compid];
  std::vector<CSR>& list = csr[compid];
  SARVIK_ASSERT(cc.offset <= cc.size, kModule);
  if (cc.size >= cc.top) {
    cc.top = cc.top > 0 ? 2 * cc.top : CSR_LEN;
    list.reserve(cc.top);
  }
  const int at = cc.size;
  if (static_cast<int>(list.size()) > at)
    list[at] = CSR{id, 1};
  else
    list.push_back(CSR{id, 1});
  ++cc.size;
  return at;
}

// Copies the first n entries of src (fewer when src is shorter) into dst.
void copy_prefix(std::vector<int>& dst, const std::vector<int>& src, int n) {
  const std::size_t len = std::min<std::size_t>(src.size(), static_cast<std::size_t>(n));
  dst.assign(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(len));
}

}  // namespace

FragmentTable initialize_hash(int size) {
  SARVIK_ASSERT(size > 0, kModule);
  FragmentTable t;
  // Zero-filled: a free slot is all-zero bytes, so untouched pages cost nothing.
  t.slot.reset(static_cast<graph_hashtbl*>(
      std::calloc(static_cast<std::size_t>(size), sizeof(graph_hashtbl))));
  if (!t.slot) {
    std::fprintf(stderr, "%s:%d: not enough memory\n", kModule, __LINE__);
    std::exit(1);
  }
  t.size = size;
  return t;
}

unsigned generate_hash(const Graph& G, int size) {
  return G.key % static_cast<unsigned>(size);
}

Graph copy_graph(const Graph& g2) {
  SARVIK_ASSERT(static_cast<int>(g2.e.size()) >= g2.es, kModule);
  SARVIK_ASSERT(static_cast<int>(g2.el.size()) >= g2.es, kModule);
  SARVIK_ASSERT(static_cast<int>(g2.v.size()) >= g2.vs + 1, kModule);
  SARVIK_ASSERT(static_cast<int>(g2.vl.size()) >= g2.vs, kModule);
  Graph g;
  g.vs = g2.vs;
  g.es = g2.es;
  g.ps = g2.ps;
  g.key = g2.key;
  copy_prefix(g.vid, g2.vid, g2.vs);
  copy_prefix(g.v, g2.v, g2.vs + 1);
  copy_prefix(g.vl, g2.vl, g2.vs);
  copy_prefix(g.p, g2.p, g2.vs);
  copy_prefix(g.e, g2.e, g2.es);
  copy_prefix(g.el, g2.el, g2.es);
  return g;
}

void hash_graph(const Graph& G, int& count, FragmentTable& hashg, int compid) {
  SARVIK_ASSERT(G.vs == threshold + 1 && G.es == 2 * threshold, kModule);
  SARVIK_ASSERT(compid >= 0 && compid < static_cast<int>(csrcount.size()), kModule);
  const unsigned size = static_cast<unsigned>(hashg.size);
  graph_hashtbl* slots = hashg.slot.get();
  // Affects output: home slot, linear probing with step 1 and the wrap to slot 0
  // decide which slot a fragment gets, hence the descriptor order of a length.
  const unsigned start = generate_hash(G, hashg.size);
  unsigned index = start;
  for (;;) {
    graph_hashtbl& s = slots[index];
    if (s.id == 0) {
      // A new fragment: the next fragment id, a copy of the graph, and the first
      // entry of the compound.
      ++count;
      SARVIK_ASSERT(count > 0, kModule);
      s.id = count;
      if (map.size() < static_cast<std::size_t>(count) + 1)
        map.resize(static_cast<std::size_t>(count) + 1, -1);
      hashg.graphs.push_back(copy_graph(G));
      hashg.live.push_back(FragmentTable::Live{1, compid, append_entry(count, compid)});
      s.g = static_cast<int>(hashg.graphs.size());
      hashg.filled.push_back(static_cast<int>(index));
      ++hashg.used;
      return;
    }
    // A slot whose graph was released after an earlier length never matches.
    if (s.g != 0 && graph_compare(hashg.graphs[s.g - 1], G) == 0) {
      FragmentTable::Live& f = hashg.live[s.g - 1];
      // Compounds of one length are entered one after another, so the compound
      // has an entry of this length exactly when it is the last one that met the
      // fragment and that entry lies at or after its offset.
      const CSRcount& cc = csrcount[compid];
      const bool known = f.last_comp == compid && f.last_entry >= cc.offset;
#ifdef SARVIK_EXPENSIVE_CHECKS
      SARVIK_ASSERT(find(csr[compid], cc.size, cc.offset, s.id) ==
                        (known ? f.last_entry : -1),
                    kModule);
#endif
      if (known) {
        SARVIK_ASSERT(f.last_entry < cc.size && csr[compid][f.last_entry].id == s.id,
                      kModule);
        ++csr[compid][f.last_entry].freq;
      } else {
        ++f.count;
        f.last_comp = compid;
        f.last_entry = append_entry(s.id, compid);
      }
      return;
    }
    if (++index == size) index = 0;
    if (index == start) error("HASH TABLE FULL: INCREASE THE SIZE\n");
  }
}

int find(const std::vector<CSR>& array, int size, int offset, int key) {
  for (int j = offset; j < size; ++j)
    if (array[j].id == key) return j;
  return -1;
}

void store_id(int id, int compid) {
  SARVIK_ASSERT(compid >= 0 && compid < static_cast<int>(csrcount.size()), kModule);
  const CSRcount& cc = csrcount[compid];
  SARVIK_ASSERT(cc.offset <= cc.size, kModule);
  const int j = find(csr[compid], cc.size, cc.offset, id);
  if (j >= 0)
    ++csr[compid][j].freq;
  else
    append_entry(id, compid);
}

void sweep_length(FragmentTable& hashg, int& k, FILE* fp) {
  // Affects output: descriptor ids are given in ascending slot order.
  std::sort(hashg.filled.begin(), hashg.filled.end());
  for (int index : hashg.filled) {
    graph_hashtbl& s = hashg.slot[index];
    SARVIK_ASSERT(s.id > 0 && s.g != 0, kModule);
    if (hashg.live[s.g - 1].count >= freqt) {
      ++k;
      map[s.id] = k;
      if (filetype == 0)
        dump_feature_sdf(hashg, index, ls, fp);
      else
        dump_feature_mol2(hashg, index, ls, fp);
    }
    // The slot stays occupied under its id but holds no graph from now on.
    s.g = 0;
  }
  hashg.filled.clear();
  hashg.graphs.clear();
  hashg.live.clear();
}

void write_file(int total) {
  const std::string fname = output_file_name();
  FILE* fp = open_output_file();
  if (!fp) error("can't open a file '" + fname + "'\n");
  std::fputs("Descriptors generated : writing id and frequency files\n", stdout);
  SARVIK_ASSERT(total >= 0 && total <= static_cast<int>(csrcount.size()) &&
                    total <= static_cast<int>(csr.size()) &&
                    total <= static_cast<int>(name.size()),
                kModule);
  const int mapsize = static_cast<int>(map.size());
  for (int i = 0; i < total; ++i) {
    const std::vector<CSR>& list = csr[i];
    const int size = csrcount[i].size;
    int n = 0;
    for (int j = 0; j < size; ++j) {
      SARVIK_ASSERT(list[j].id > 0 && list[j].id < mapsize, kModule);
      if (map[list[j].id] != -1) ++n;
    }
    std::fprintf(fp, "\"%s\",%d", name[i].c_str(), n);
    // Affects output: pairs follow the list order (length, then first meeting).
    for (int j = 0; j < size; ++j) {
      const int d = map[list[j].id];
      if (d != -1) std::fprintf(fp, ",%d,%d", d, list[j].freq);
    }
    std::fputc('\n', fp);
  }
  const bool failed = std::ferror(fp) != 0;
  if (std::fclose(fp) != 0 || failed) error("can't write a file '" + fname + "'\n");
}
