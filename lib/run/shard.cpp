// A run over shards (include/sarvik/shard.h): the first pass of a shard, its
// fragment facts, their merge and the replay of the fragment table, and the
// counting of a shard with the descriptor ids the replay gave its fragments
// (or in an earlier run's descriptor space).
#include "sarvik/shard.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "input/input.h"
#include "run/run_detail.h"

namespace sarvik {

namespace {

constexpr const char* kModule = "shard";

// ---- the facts' bytes ----
// Per length from mint on: the number of fragments, then per fragment the
// compounds holding it (varint), its key (4 bytes, little-endian), its form's
// width (1 byte) and its form (the table's form codec at that width).

void put_varint(std::string& out, std::uint64_t v) {
  while (v >= 0x80) {
    out += static_cast<char>(v | 0x80);
    v >>= 7;
  }
  out += static_cast<char>(v);
}

// Reads facts, refusing bytes that are not what shard_fragments writes.
struct FactReader {
  const unsigned char* at;
  const unsigned char* end;

  [[noreturn]] static void refuse() {
    error(ErrorKind::input, "fragment facts of a shard that are cut short or damaged\n");
  }
  std::uint64_t varint() {
    std::uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (at == end) refuse();
      const unsigned char b = *at++;
      v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
      if (b < 0x80) return v;
    }
    refuse();
  }
  const unsigned char* take(std::size_t n) {
    if (static_cast<std::size_t>(end - at) < n) refuse();
    const unsigned char* p = at;
    at += n;
    return p;
  }
};

int element(const unsigned char* p, int width) {
  if (width == 1) return p[0];
  if (width == 2) return p[0] | p[1] << 8;
  std::uint32_t x;
  std::memcpy(&x, p, 4);
  return static_cast<int>(x);
}

// ---- a set of forms of one length, in the order they were added ----

struct FormSet {
  struct Entry {
    unsigned key;
    int width;
    std::size_t at;         // first byte in `forms`
    std::int64_t compounds;
    int last = -1;          // the last compound counted (shard_fragments)
  };
  std::vector<Entry> entries;
  std::vector<unsigned char> forms;
  std::vector<std::uint32_t> index;  // open addressing: entry + 1, 0 free

  // The entry of the form (`bytes` long), added with no compound when new.
  std::size_t find_or_add(const unsigned char* form, std::size_t bytes, int width, unsigned key) {
    if (2 * (entries.size() + 1) > index.size()) {
      index.assign(std::max<std::size_t>(1024, 2 * index.size()), 0);
      const std::size_t mask = index.size() - 1;
      for (std::size_t e = 0; e < entries.size(); ++e) {
        const std::size_t h = probe_from(fibonacci_home(entries[e].key, 32) & mask, mask,
                                         [this](std::size_t s) { return index[s] == 0; });
        index[h] = static_cast<std::uint32_t>(e + 1);
      }
    }
    const std::size_t mask = index.size() - 1;
    std::size_t h = fibonacci_home(key, 32) & mask;
    for (; index[h] != 0; h = (h + 1) & mask) {
      const Entry& x = entries[index[h] - 1];
      // Forms at their smallest width are equal exactly when the fragments are.
      if (x.key == key && x.width == width && std::memcmp(forms.data() + x.at, form, bytes) == 0)
        return index[h] - 1;
    }
    entries.push_back(Entry{key, width, forms.size(), 0});
    forms.insert(forms.end(), form, form + bytes);
    SARVIK_ASSERT(entries.size() < UINT32_MAX, kModule);
    index[h] = static_cast<std::uint32_t>(entries.size());
    return entries.size() - 1;
  }
};

std::size_t bytes_of_form(const unsigned char* form, int width) {
  return form_bytes(element(form, width), element(form + width, width), width);
}

int fragment_type(const Settings& s) {
  return s.option == "TF" ? kFragmentsTrees : s.option == "PF" ? kFragmentsPaths : kFragmentsAll;
}

// The lengths a run sweeps that can hold a fragment of compounds of at most
// `bonds` bonds: mint .. min(maxt, bonds), none when that is empty.
int lengths_to_sweep(const Settings& s, long long bonds) {
  const long long last = std::min<long long>(s.maxt, bonds);
  return last < s.mint ? 0 : static_cast<int>(last - s.mint + 1);
}

LoadRequest load_request(const Settings& s, const Source& shard, const std::atomic<bool>* cancel) {
  LoadRequest request;
  request.input = &shard;
  request.NoAtmLabels = s.NoAtmLabels;
  request.NoBndLabels = s.NoBndLabels;
  request.cancel = cancel;
  return request;
}

// The last bytes of the shard (up to n).
std::string tail_of(const Source& shard, std::size_t n) {
  if (shard.bytes) {
    const std::string_view b = *shard.bytes;
    return std::string(b.substr(b.size() > n ? b.size() - n : 0));
  }
  std::FILE* f = std::fopen(shard.path.c_str(), "rb");
  if (f == nullptr) error("can't open a file '" + shown(shard.path, false) + "'\n");
  std::string out;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long size = std::ftell(f);
    if (size > 0) {
      const long from = size > static_cast<long>(n) ? size - static_cast<long>(n) : 0;
      out.resize(static_cast<std::size_t>(size - from));
      if (std::fseek(f, from, SEEK_SET) != 0 || std::fread(out.data(), 1, out.size(), f) != out.size())
        out.clear();
    }
  }
  std::fclose(f);
  return out;
}

// A shard joined to the next must keep its last record whole: SD records end
// with their "$$$$" line, Mol2 text with a line end.
void check_closed(const Source& shard) {
  const std::string tail = tail_of(shard, 4096);
  if (tail.empty()) return;
  const std::string named = "the shard '" + shown(shard.path, false) + "'";
  if (tail.back() != '\n')
    error(ErrorKind::input, named + " does not end with a whole record: its last line has no "
                                    "line end\n");
  if (shard.format != Format::sd) return;
  // The last line, without its line end.
  std::string last = tail.substr(0, tail.size() - 1);
  if (!last.empty() && last.back() == '\r') last.pop_back();
  const std::size_t newline = last.rfind('\n');
  if (newline != std::string::npos) last.erase(0, newline + 1);
  // As the reader tells a record's end: its first space-separated token is "$$$$".
  const std::size_t s = last.find_first_not_of(' ');
  const std::size_t t = s == std::string::npos ? s : std::min(last.find(' ', s), last.size());
  const bool closed = s != std::string::npos && last.compare(s, t - s, "$$$$") == 0;
  if (!closed)
    error(ErrorKind::input, named + " does not end with a whole record: its last line is not "
                                    "the \"$$$$\" line that closes a record\n");
}

}  // namespace

namespace {

// What a shard's pass keeps of one length: its enumeration's caches (a
// Workspace per length, so that each keeps its own through the shard while the
// compounds go by one at a time, every length in turn), and the shard's
// fragments of the length in the order the shard first met them.
struct LengthState {
  LengthContext cx;
  Workspace ws;
  CompoundEvents ev;
  FormSet set;
  std::vector<int> local;  // handle -> fragment of `set`, -1 none yet
};

// The length states a compound of `bonds` bonds needs, made as needed.
void grow_lengths(std::vector<std::unique_ptr<LengthState>>& by_length, const Settings& s,
                  const LabelSet& ls, long long bonds, const std::atomic<bool>* cancel) {
  const std::size_t need = static_cast<std::size_t>(lengths_to_sweep(s, bonds));
  while (by_length.size() < need) {
    auto st = std::make_unique<LengthState>();
    st->cx.ls = &ls;
    st->cx.opt = fragment_type(s);
    st->cx.threshold = s.mint + static_cast<int>(by_length.size());
    st->cx.cancel = cancel;
    by_length.push_back(std::move(st));
  }
}

// Enumerates compound g at st's length: take(fragment, n) for each fragment it
// holds, in the order it first met them, fragments numbered in the order the
// shard first met them. Affects output: that order is the shard's first meeting.
template <class Take>
void enumerate_in(const Graph& g, LengthState& st, Take&& take) {
  st.ev.clear();
  // One epoch: handles name forms of this length for the whole shard.
  enumerate_compound_events(g, st.cx, 1, st.ev, st.ws);
  for (const CompoundEvents::Entry& e : st.ev.entries) {
    if (static_cast<std::size_t>(e.handle) >= st.local.size())
      st.local.resize(static_cast<std::size_t>(e.handle) + 1, -1);
    int& x = st.local[static_cast<std::size_t>(e.handle)];
    if (x < 0) {
      // Two handles may name one fragment: the form decides.
      const CompoundEvents::Form& f = st.ev.form_of[static_cast<std::size_t>(e.handle - st.ev.first_handle)];
      const unsigned char* form = st.ev.forms.data() + f.at;
      x = static_cast<int>(st.set.find_or_add(form, bytes_of_form(form, f.width), f.width, f.key));
    }
    take(static_cast<std::size_t>(x), e.n);
  }
}

// Reads the shard's compounds one after another (never all held), under the
// label set of `labels` (the whole collection's), untitled ones named by their
// position plus first_position: take(position, name, graph, label set).
// Returns the compounds.
int stream_shard(const Settings& s, const Source& shard, const std::vector<std::string>& labels,
                 int first_position, const std::atomic<bool>* cancel,
                 const std::function<void(int, const std::string&, Graph&, const LabelSet&)>& take) {
  LoadRequest request = load_request(s, shard, cancel);
  request.more_labels = labels;
  request.first_position = first_position;
  Loaded in;
  read_labels(request, in);
  if (in.ls.vl.buf.size() != labels.size())
    error(ErrorKind::usage, "the labels given for the shard '" + shown(shard.path, false) +
                                "' do not hold its own\n");
  ByteSum sum;
  if (in.total > 0 && !in.starts.empty()) {
    const LabelSet& ls = in.ls;
    read_record_run(request, in, in.starts.front(), in.total, 0, std::string::npos,
                    [&take, &ls](int position, const std::string& name, Graph& g) {
                      take(position, name, g, ls);
                    },
                    &sum);
  } else {
    sum = sum_input_from(request, in, 0);
  }
  check_input_unchanged(in, sum);
  return in.total;
}

}  // namespace

ShardLabels shard_labels(const Settings& settings, const Source& shard,
                         const std::atomic<bool>* cancel) {
  check_settings(settings, false);
  // The first pass alone: labels and compounds, no graph built.
  const LoadRequest request = load_request(settings, shard, cancel);
  Loaded loaded;
  read_labels(request, loaded);
  check_closed(shard);
  ShardLabels out;
  out.compounds = loaded.total;
  out.atom_labels = std::move(loaded.atom_labels);
  std::sort(out.atom_labels.begin(), out.atom_labels.end());
  out.atom_labels.erase(std::unique(out.atom_labels.begin(), out.atom_labels.end()),
                        out.atom_labels.end());
  return out;
}

std::vector<std::string> merge_labels(const std::vector<ShardLabels>& shards) {
  std::vector<std::string> all;
  for (const ShardLabels& s : shards) all.insert(all.end(), s.atom_labels.begin(), s.atom_labels.end());
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  return all;
}

std::string shard_fragments(const Settings& settings, const Source& shard,
                            const std::vector<std::string>& labels,
                            const std::atomic<bool>* cancel) {
  check_settings(settings, false);
  std::vector<std::unique_ptr<LengthState>> by_length;
  stream_shard(settings, shard, labels, 0, cancel,
               [&](int i, const std::string&, Graph& g, const LabelSet& ls) {
                 check_cancel(cancel);
                 grow_lengths(by_length, settings, ls, g.es / 2, cancel);
                 for (std::size_t l = 0; l < by_length.size() && settings.mint + static_cast<long long>(l) <= g.es / 2; ++l)
                   enumerate_in(g, *by_length[l], [&](std::size_t x, std::uint64_t) {
                     FormSet::Entry& entry = by_length[l]->set.entries[x];
                     if (entry.last != i) {
                       entry.last = i;
                       ++entry.compounds;
                     }
                   });
               });
  std::string out;
  put_varint(out, by_length.size());
  for (const std::unique_ptr<LengthState>& st : by_length) {
    put_varint(out, st->set.entries.size());
    for (const FormSet::Entry& e : st->set.entries) {
      put_varint(out, static_cast<std::uint64_t>(e.compounds));
      for (int b = 0; b < 4; ++b) out += static_cast<char>((e.key >> (8 * b)) & 0xFF);
      out += static_cast<char>(e.width);
      const unsigned char* form = st->set.forms.data() + e.at;
      out.append(reinterpret_cast<const char*>(form), bytes_of_form(form, e.width));
    }
  }
  return out;
}

struct ShardMerge::State {
  Settings settings;
  Format format = Format::sd;
  LabelSet ls;
  std::string name;
  std::vector<FormSet> lengths;  // [length - mint]
  std::int64_t fragments = 0;
  // After finish(): per length the fragment ids handed out before it (and
  // after the last, all of them), and fragment id -> descriptor id (-1 none).
  bool finished = false;
  std::vector<int> before;
  std::vector<int> map;
};

ShardMerge::ShardMerge(const Settings& settings, Format format,
                       const std::vector<std::string>& labels, const std::string& name)
    : state_(std::make_unique<State>()) {
  check_settings(settings, false);
  state_->settings = settings;
  state_->format = format;
  state_->ls = make_labelset(labels, format);
  state_->name = name;
}

ShardMerge::~ShardMerge() = default;

std::int64_t ShardMerge::fragments() const { return state_->fragments; }

std::string ShardMerge::add(std::string_view facts) {
  State& s = *state_;
  if (s.finished) error(ErrorKind::usage, "facts added to a merge that is finished\n");
  std::string places;
  FactReader r{reinterpret_cast<const unsigned char*>(facts.data()),
               reinterpret_cast<const unsigned char*>(facts.data()) + facts.size()};
  const std::uint64_t lengths = r.varint();
  if (lengths > static_cast<std::uint64_t>(lengths_to_sweep(s.settings, INT32_MAX))) r.refuse();
  if (s.lengths.size() < lengths) s.lengths.resize(static_cast<std::size_t>(lengths));
  put_varint(places, lengths);
  const int atoms = static_cast<int>(s.ls.vl.buf.size());
  const int bonds = static_cast<int>(s.ls.el.buf.size());
  for (std::size_t l = 0; l < lengths; ++l) {
    FormSet& set = s.lengths[l];
    const std::uint64_t n = r.varint();
    put_varint(places, n);
    for (std::uint64_t j = 0; j < n; ++j) {
      const std::uint64_t compounds = r.varint();
      const unsigned char* k = r.take(5);
      const unsigned key = static_cast<unsigned>(k[0]) | static_cast<unsigned>(k[1]) << 8 |
                           static_cast<unsigned>(k[2]) << 16 | static_cast<unsigned>(k[3]) << 24;
      const int width = k[4];
      if (width != 1 && width != 2 && width != 4) r.refuse();
      const unsigned char* head = r.take(2 * static_cast<std::size_t>(width));
      const int vs = element(head, width);
      const int es = element(head + width, width);
      // A tree of the length's bonds, its labels within the run's label set.
      if (vs != static_cast<int>(s.settings.mint + l) + 1 || es != 2 * (vs - 1)) r.refuse();
      r.at = head;
      const unsigned char* form = r.take(form_bytes(vs, es, width));
      const unsigned char* vl = form + static_cast<std::size_t>(2 + vs) * width;
      const unsigned char* el = form + static_cast<std::size_t>(2 + 2 * vs + es) * width;
      for (int i = 0; i < vs; ++i)
        if (element(vl + static_cast<std::size_t>(i) * width, width) >= atoms) r.refuse();
      for (int i = 0; i < es; ++i)
        if (element(el + static_cast<std::size_t>(i) * width, width) >= bonds) r.refuse();
      const std::size_t before = set.entries.size();
      const std::size_t e = set.find_or_add(form, form_bytes(vs, es, width), width, key);
      if (set.entries.size() != before) ++s.fragments;
      set.entries[e].compounds += static_cast<std::int64_t>(compounds);
      put_varint(places, e);
    }
  }
  if (r.at != r.end) r.refuse();
  return places;
}

std::string ShardMerge::shard_ids(std::string_view places) const {
  const State& s = *state_;
  if (!s.finished) error(ErrorKind::usage, "descriptor ids asked of a merge not finished\n");
  FactReader r{reinterpret_cast<const unsigned char*>(places.data()),
               reinterpret_cast<const unsigned char*>(places.data()) + places.size()};
  std::string ids;
  const std::uint64_t lengths = r.varint();
  if (lengths + 1 > s.before.size()) r.refuse();
  put_varint(ids, lengths);
  for (std::size_t l = 0; l < lengths; ++l) {
    const std::uint64_t n = r.varint();
    put_varint(ids, n);
    const auto fragments = static_cast<std::uint64_t>(s.before[l + 1] - s.before[l]);
    for (std::uint64_t j = 0; j < n; ++j) {
      const std::uint64_t place = r.varint();
      if (place >= fragments) r.refuse();
      const int d = s.map[static_cast<std::size_t>(s.before[l]) + place + 1];
      put_varint(ids, d < 0 ? 0 : static_cast<std::uint64_t>(d));
    }
  }
  if (r.at != r.end) r.refuse();
  return ids;
}

Space ShardMerge::finish(Summary* summary) {
  State& s = *state_;
  if (s.finished) error(ErrorKind::usage, "a merge finished twice\n");
  // The run's table, entered length by length with the fragments in the order
  // the joined shards first meet them: ids, slots and the sweep are the run's.
  FragmentTable table = initialize_hash();
  OccurrenceStore occ;
  occurrences_init(occ, 1);
  std::vector<int> map;
  int k = 0;
  auto made = std::make_shared<SpaceData>();
  made->format = s.format;
  made->name = s.name;
  made->ls = s.ls;
  FragmentRecords records;
  const SweepRule rule{s.settings.freqt, s.format, &s.ls};
  for (FormSet& set : s.lengths) {
    s.before.push_back(table.count);
    // The table's occurrence lists, of one compound that meets every fragment
    // of the length once (their counts are the sums of the shards').
    occurrences_begin_length(occ);
    for (const FormSet::Entry& e : set.entries) {
      const int live = hash_form(set.forms.data() + e.at, e.width, e.key, table, occ, 0);
      table.live[static_cast<std::size_t>(live)].count = e.compounds;
    }
    csr_end_length(occ, 0);
    sweep_length(table, rule, k, map, records);
    space_append(*made, records);
    set = FormSet{};
  }
  s.lengths.clear();
  s.before.push_back(table.count);
  map.resize(static_cast<std::size_t>(table.count) + 1, -1);
  s.map = std::move(map);
  s.finished = true;
  if (summary != nullptr) {
    summary->fragments = table.count;
    summary->descriptors = k;
  }
  made->ls = s.ls;
  Space space;
  space.data = std::move(made);
  return space;
}

Summary count_shard(const Settings& settings, const Source& shard, const ShardPlace& place,
                    std::string_view ids, const Sinks& sinks) {
  check_settings(settings, false);
  // The descriptor id of each fragment of the shard, per length, in the order
  // the shard first meets them.
  FactReader r{reinterpret_cast<const unsigned char*>(ids.data()),
               reinterpret_cast<const unsigned char*>(ids.data()) + ids.size()};
  const std::uint64_t lengths = r.varint();
  if (lengths > static_cast<std::uint64_t>(lengths_to_sweep(settings, INT32_MAX))) r.refuse();
  std::vector<std::vector<int>> id(static_cast<std::size_t>(lengths));
  for (std::vector<int>& of_length : id) {
    const std::uint64_t n = r.varint();
    if (n > ids.size()) r.refuse();
    of_length.resize(static_cast<std::size_t>(n));
    for (int& d : of_length) {
      const std::uint64_t v = r.varint();
      if (v > INT32_MAX) r.refuse();
      d = static_cast<int>(v);
    }
  }
  if (r.at != r.end) r.refuse();

  std::vector<std::unique_ptr<LengthState>> by_length;
  // Per length and fragment: the compound it was last counted in, and its pair there.
  std::vector<std::vector<int>> seen(id.size()), at(id.size());
  for (std::size_t l = 0; l < id.size(); ++l) {
    seen[l].assign(id[l].size(), -1);
    at[l].assign(id[l].size(), 0);
  }
  constexpr std::size_t kFlush = std::size_t{1} << 20;  // bytes of lines handed over at a time
  std::string text;
  std::vector<DescriptorCount> pairs;
  const int total = stream_shard(
      settings, shard, place.labels, place.before, sinks.cancel,
      [&](int i, const std::string& name, Graph& g, const LabelSet& ls) {
        check_cancel(sinks.cancel);
        grow_lengths(by_length, settings, ls, g.es / 2, sinks.cancel);
        // The shard holds no fragment of a length its facts did not list.
        if (by_length.size() > id.size()) r.refuse();
        pairs.clear();
        // Affects output: pairs follow length, then first meeting in the compound.
        for (std::size_t l = 0; l < by_length.size() && settings.mint + static_cast<long long>(l) <= g.es / 2; ++l)
          enumerate_in(g, *by_length[l], [&](std::size_t x, std::uint64_t n) {
            if (x >= id[l].size()) r.refuse();
            const int d = id[l][x];
            if (d == 0) return;
            if (seen[l][x] == i) {
              pairs[static_cast<std::size_t>(at[l][x])].count += n;
            } else {
              seen[l][x] = i;
              at[l][x] = static_cast<int>(pairs.size());
              pairs.push_back(DescriptorCount{d, n});
            }
          });
        append_descriptor_line(name, pairs, text);
        if (text.size() >= kFlush) {
          if (sinks.descriptors) sinks.descriptors(text);
          text.clear();
        }
      });
  if (!text.empty() && sinks.descriptors) sinks.descriptors(text);
  Summary summary;
  summary.compounds = total;
  return summary;
}

Summary count_shard(const Settings& settings, const Source& shard, const Space& space,
                    const ShardPlace& place, const Sinks& sinks) {
  Run r;
  r.more_labels = place.labels;
  r.first_position = place.before;
  return run_with(r, settings, shard, nullptr, sinks, &space);
}

}  // namespace sarvik
