// Descriptor spaces held in memory: made from a run's sweep, read from a
// fragment file, written back through the fragment writers, stored as bytes,
// and handed to a run as the labelled trees of its descriptor space.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "input/input.h"
#include "run/run_detail.h"

namespace sarvik {

namespace {

constexpr const char* kModule = "space";
// The first bytes of a space's binary form; the digits are its layout's version.
constexpr std::string_view kMagic = "SARVIKSPACE0001\n";

// SD bond types as the SD writer writes them, by number.
constexpr std::string_view kSdTypeText[] = {"", "1", "2", "3", "4"};

using HeldRecords = SpaceData::Records;

const unsigned char* form_at(const HeldRecords& r, std::size_t k) {
  return r.packed.data() + static_cast<std::size_t>(r.records[k].at) * static_cast<std::size_t>(r.width);
}

std::size_t form_length(const Graph& g) { return 2 + 2 * static_cast<std::size_t>(g.vs + g.es); }

// Re-lays every form of s at `width` elements (wider than now); element
// offsets stay.
void widen(HeldRecords& s, int width) {
  std::vector<unsigned char> wide(s.packed.size() / static_cast<std::size_t>(s.width) *
                                  static_cast<std::size_t>(width));
  Graph g;
  for (std::size_t k = 0; k < s.records.size(); ++k) {
    unpack_form(form_at(s, k), s.width, g);
    pack_form(g, width, wide.data() + static_cast<std::size_t>(s.records[k].at) * width);
  }
  s.packed.swap(wide);
  s.width = width;
}

// Appends g's form, titled id, to s.
void append_form(HeldRecords& s, const Graph& g, int id, unsigned key) {
  const int w = form_width(g);
  if (w > s.width) widen(s, w);
  const std::size_t at = s.packed.size() / static_cast<std::size_t>(s.width);
  if (at + form_length(g) > static_cast<std::size_t>(INT32_MAX))
    error(ErrorKind::table_full, "the descriptor space is too large to be held\n");
  s.packed.resize((at + form_length(g)) * static_cast<std::size_t>(s.width));
  pack_form(g, s.width, s.packed.data() + at * static_cast<std::size_t>(s.width));
  s.records.push_back(SpaceData::Record{id, key, static_cast<int>(at)});
}

// The fragment id a record's title spells: decimal digits without a leading
// zero, a positive int; else 0.
int title_id(const std::string& title) {
  std::size_t digits = 0;
  const long long n = leading_digits(title, &digits);
  if (digits == 0 || digits != title.size() || title[0] == '0' || n > INT32_MAX) return 0;
  return static_cast<int>(n);
}

// ---- the binary form: little-endian integers, strings as length and bytes ----

void put_u32(std::string& out, std::uint32_t x) {
  for (int b = 0; b < 4; ++b) out.push_back(static_cast<char>((x >> (8 * b)) & 0xFFu));
}

void put_text(std::string& out, std::string_view s) {
  put_u32(out, static_cast<std::uint32_t>(s.size()));
  out.append(s);
}

struct Reader {
  std::string_view in;
  std::size_t at = 0;

  [[noreturn]] static void refuse(const std::string& what) {
    error("not the bytes of a descriptor space: " + what + "\n");
  }
  std::string_view take(std::size_t n) {
    if (in.size() - at < n) refuse("they end early");
    const std::string_view s = in.substr(at, n);
    at += n;
    return s;
  }
  std::uint32_t u32() {
    const std::string_view s = take(4);
    std::uint32_t x = 0;
    for (int b = 3; b >= 0; --b) x = x << 8 | static_cast<unsigned char>(s[static_cast<std::size_t>(b)]);
    return x;
  }
  std::string text() { return std::string(take(u32())); }
};

// Whether g is a graph as the library keeps one: offsets in order, neighbours
// in range and ascending, every bond in both directions with one label, labels
// within tables of these sizes.
bool well_formed(const Graph& g, std::size_t atom_labels, std::size_t bond_labels) {
  if (g.vs < 0 || g.v[0] != 0) return false;
  for (int i = 0; i < g.vs; ++i)
    if (g.v[i] > g.v[i + 1] || g.vl[i] < 0 || static_cast<std::size_t>(g.vl[i]) >= atom_labels)
      return false;
  for (int i = 0; i < g.vs; ++i) {
    for (int j = g.v[i]; j < g.v[i + 1]; ++j) {
      const int t = g.e[j];
      if (t < 0 || t >= g.vs || t == i || (j > g.v[i] && g.e[j - 1] >= t) || g.el[j] < 0 ||
          static_cast<std::size_t>(g.el[j]) >= bond_labels)
        return false;
      int k = g.v[t];
      while (k < g.v[t + 1] && g.e[k] != i) ++k;
      if (k == g.v[t + 1] || g.el[k] != g.el[j]) return false;
    }
  }
  return true;
}

}  // namespace

void space_append(SpaceData& space, const FragmentRecords& records) {
  Graph g;
  for (std::size_t k = 0; k < records.records.size(); ++k) {
    unpack_form(records.records[k].form, records.records[k].width, g);
    append_form(space.records, g, records.records[k].id, records.records[k].key);
  }
}

void space_into_run(const SpaceData& space, const SpaceRule& rule, const LabelSet& ls,
                    DescriptorSpace& into, const std::atomic<bool>* cancel) {
  // The space's label integers as the run's: every one of its labels is in the
  // run's label set.
  std::vector<int> atom(space.ls.vl.buf.size()), bond(space.ls.el.buf.size());
  for (std::size_t i = 0; i < atom.size(); ++i) {
    atom[i] = ptr_array_index(space.ls.vl.buf[i], ls.vl);
    SARVIK_ASSERT(atom[i] >= 0, kModule);
  }
  for (std::size_t i = 0; i < bond.size(); ++i) bond[i] = graph_index_edge_labelset(space.ls.el.buf[i], ls);
  Graph g;
  for (std::size_t k = 0; k < space.records.records.size(); ++k) {
    if ((k & 1023) == 0) check_cancel(cancel);
    unpack_form(form_at(space.records, k), space.records.width, g);
    for (int i = 0; i < g.vs; ++i) g.vl[i] = atom[static_cast<std::size_t>(g.vl[i])];
    for (int j = 0; j < g.es; ++j) g.el[j] = bond[static_cast<std::size_t>(g.el[j])];
    // A refusal names the record by its title, as when the fragment file is read.
    descriptor_space_add(into, rule, static_cast<int>(k), g,
                         std::to_string(space.records.records[k].id));
  }
}

Space::Space() : data(std::make_shared<SpaceData>()) {}

Format Space::format() const { return data->format; }

int Space::size() const { return static_cast<int>(data->records.records.size()); }

const std::string& Space::name() const { return data->name; }

SpaceFragment Space::fragment(int descriptor) const {
  SARVIK_ASSERT(descriptor >= 1 && descriptor <= size(), kModule);
  const std::size_t k = static_cast<std::size_t>(descriptor) - 1;
  Graph g;
  unpack_form(form_at(data->records, k), data->records.width, g);
  SpaceFragment f;
  f.id = data->records.records[k].id;
  for (int i = 0; i < g.vs; ++i) f.atoms.emplace_back(data->ls.vl.buf[static_cast<std::size_t>(g.vl[i])]);
  // Bonds as the writers list them: from the lower-numbered atom, in atom order.
  for (int i = 0; i < g.vs; ++i)
    for (int j = g.v[i]; j < g.v[i + 1]; ++j) {
      if (g.e[j] < i) continue;
      const BondType* t = bond_type_of_label(data->ls.el.buf[static_cast<std::size_t>(g.el[j])]);
      std::string_view type;
      if (t != nullptr)
        type = data->format == Format::sd ? kSdTypeText[t->sd] : std::string_view(t->mol2);
      f.bonds.push_back(SpaceFragment::Bond{i, g.e[j], type});
    }
  return f;
}

void Space::write(const std::function<void(std::string_view)>& sink, int threads,
                  const std::atomic<bool>* cancel) const {
  // An atom label the SD atom symbol field cannot hold ends the writing before
  // it begins, as it ends a run before its fragment file is written.
  if (data->format == Format::sd) {
    Graph g;
    for (std::size_t k = 0; k < data->records.records.size(); ++k) {
      unpack_form(form_at(data->records, k), data->records.width, g);
      for (int i = 0; i < g.vs; ++i)
        check_sd_atom_label(data->ls.vl.buf[static_cast<std::size_t>(g.vl[i])],
                            data->records.records[k].id);
    }
  }
  // The writers read each form where it lies.
  FragmentRecords view;
  view.records.reserve(data->records.records.size());
  for (std::size_t k = 0; k < data->records.records.size(); ++k)
    view.records.push_back(FragmentRecords::Record{data->records.records[k].id,
                                                   data->records.records[k].key,
                                                   form_at(data->records, k), data->records.width});
  write_fragment_records(view, data->ls, data->format, std::max(threads, 1), sink, cancel);
}

std::string Space::bytes() const {
  const SpaceData& s = *data;
  std::string out(kMagic);
  out.push_back(static_cast<char>(s.format == Format::mol2 ? 1 : 0));
  out.push_back(static_cast<char>(s.records.width));
  put_text(out, s.name);
  for (const PtrArray* labels : {&s.ls.vl, &s.ls.el}) {
    put_u32(out, static_cast<std::uint32_t>(labels->buf.size()));
    for (const std::string& l : labels->buf) put_text(out, l);
  }
  put_u32(out, static_cast<std::uint32_t>(s.records.records.size()));
  for (const SpaceData::Record& r : s.records.records) put_u32(out, static_cast<std::uint32_t>(r.id));
  // The forms follow one another in record order, so their offsets need not be
  // stored.
  out.append(reinterpret_cast<const char*>(s.records.packed.data()), s.records.packed.size());
  return out;
}

Space Space::from_bytes(std::string_view bytes) {
  Reader in{bytes};
  if (in.take(kMagic.size()) != kMagic) Reader::refuse("they do not begin as one");
  auto made = std::make_shared<SpaceData>();
  SpaceData& s = *made;
  const std::string_view head = in.take(2);
  if (head[0] != 0 && head[0] != 1) Reader::refuse("unknown format");
  s.format = head[0] == 1 ? Format::mol2 : Format::sd;
  const int width = head[1];
  if (width != 1 && width != 2 && width != 4) Reader::refuse("unknown width");
  s.name = in.text();
  for (PtrArray* labels : {&s.ls.vl, &s.ls.el}) {
    const std::uint32_t n = in.u32();
    for (std::uint32_t k = 0; k < n; ++k) labels->buf.push_back(in.text());
    const auto less = [](const std::string& a, const std::string& b) { return ptr_array_strcmp(a, b) < 0; };
    if (std::adjacent_find(labels->buf.begin(), labels->buf.end(),
                           [&less](const std::string& a, const std::string& b) { return !less(a, b); }) !=
        labels->buf.end())
      Reader::refuse("labels out of order");
  }
  for (const std::string& l : s.ls.el.buf)
    if (bond_type_of_label(l) == nullptr) Reader::refuse("an unknown bond label");
  const std::uint32_t n = in.u32();
  if (n > (bytes.size() - in.at) / 4) Reader::refuse("they end early");
  std::vector<int> ids(n);
  for (std::uint32_t k = 0; k < n; ++k) {
    ids[k] = static_cast<int>(in.u32());
    if (ids[k] <= 0) Reader::refuse("a record without a fragment id");
  }
  // Each form is read, checked and laid out again, so that a space from bytes
  // is exactly one the library made.
  s.records.width = 1;
  Graph g;
  std::vector<int> values;
  for (std::uint32_t k = 0; k < n; ++k) {
    const auto element = [&in, width]() {
      const std::string_view e = in.take(static_cast<std::size_t>(width));
      std::uint32_t x = 0;
      for (int b = width - 1; b >= 0; --b) x = x << 8 | static_cast<unsigned char>(e[static_cast<std::size_t>(b)]);
      return x;
    };
    const std::uint32_t vs = element(), es = element();
    if (vs > 1u << 20 || es > 1u << 21) Reader::refuse("a record of impossible size");
    const std::size_t rest = 2 * static_cast<std::size_t>(vs) + 2 * static_cast<std::size_t>(es);
    values.assign(2 + rest, 0);
    values[0] = static_cast<int>(vs);
    values[1] = static_cast<int>(es);
    for (std::size_t x = 0; x < rest; ++x) values[2 + x] = static_cast<int>(element());
    g.vs = values[0];
    g.es = values[1];
    g.v.assign(values.begin() + 2, values.begin() + 2 + g.vs);
    g.v.push_back(g.es);
    g.vl.assign(values.begin() + 2 + g.vs, values.begin() + 2 + 2 * g.vs);
    g.e.assign(values.begin() + 2 + 2 * g.vs, values.begin() + 2 + 2 * g.vs + g.es);
    g.el.assign(values.begin() + 2 + 2 * g.vs + g.es, values.end());
    if (!well_formed(g, s.ls.vl.buf.size(), s.ls.el.buf.size())) Reader::refuse("a malformed record");
    append_form(s.records, g, ids[k], 0);
  }
  if (in.at != bytes.size()) Reader::refuse("bytes after the last record");
  Space space;
  space.data = std::move(made);
  return space;
}

Space Space::read(const Source& fragment_file, const std::atomic<bool>* cancel) {
  LoadRequest request;
  request.input = &fragment_file;
  request.cancel = cancel;
  Loaded loaded;
  read_compounds(request, loaded);
  auto made = std::make_shared<SpaceData>();
  made->format = fragment_file.format;
  made->name = fragment_file.path;
  made->ls = std::move(loaded.ls);
  for (std::size_t k = 0; k < loaded.G.size(); ++k) {
    if ((k & 1023) == 0) check_cancel(cancel);
    const int id = title_id(loaded.name[k]);
    append_form(made->records, loaded.G[k], id > 0 ? id : static_cast<int>(k) + 1, 0);
    loaded.G[k] = Graph();
  }
  Space space;
  space.data = std::move(made);
  return space;
}

}  // namespace sarvik
