// A run in a descriptor space, streamed. A compound's line depends only on the
// compound and the space, so after the first pass the input is read again in
// chunks of compounds: a worker reads a chunk, counts each of its compounds at
// every length and lays out their lines, and this thread hands the lines over in
// input order; nothing of a chunk is kept once its lines are out. Memory is the
// space and a window of chunks per worker, whatever the number of compounds. The
// progress lines of the lengths (descriptors met so far) are printed at the end,
// as a run length by length printed them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "input/input.h"
#include "run/run_detail.h"

namespace sarvik {

namespace {

constexpr const char* kModule = "space_stream";

// Compounds of a chunk at most (fewer in a small collection, so that every
// worker gets chunks).
constexpr int kMaxChunkCompounds = 256;

// What a worker makes of one chunk.
struct SpaceChunk {
  std::vector<Graph> G;             // the chunk's compounds, as read
  std::vector<std::string> name;
  int read = 0;                     // compounds read
  ByteSum sum;                      // of the chunk's bytes
  std::string text;                 // their lines of the descriptor file
  std::vector<DescriptorCount> pairs;  // with a vectors sink: every compound's pairs
  std::vector<std::size_t> ends;    // with a vectors sink: per compound, the end of its pairs
  std::vector<int> met;             // descriptors its worker met first here
  std::int64_t outside = 0;
  bool bonds = false;     // a compound of the chunk has a bond
  bool aromatic = false;  // an aromatic one
};

// What a worker keeps from chunk to chunk.
struct SpaceWorker {
  std::vector<unsigned char> met;      // per descriptor id: met by this worker
  std::vector<CompoundEvents> events;  // per length from mint on: the compounds' entries
  std::vector<DescriptorCount> pairs;
};

std::string printed(const char* format, long long a, long long b = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

void say(const Run& r, const std::string& line) {
  if (r.sinks->message) r.sinks->message(line);
}

// Warns when the space's fragments and the input's compounds draw aromatic
// bonds differently: one with aromatic bonds, the other with none (input_bonds:
// the input has bonds at all). Aromatic and Kekule bonds are different bond
// types, so most fragments would fall outside the space without anything
// failing.
void warn_of_bond_forms(const Run& r, bool input_bonds, bool input_aromatic) {
  if (!r.sinks->warning || r.settings.NoBndLabels == 1) return;
  const int aromatic = ptr_array_index(kBondTypes[3].label, r.ls.el);
  bool space_aromatic = false;
  for (const DescriptorSpace::Length& l : r.space.by_length)
    for (std::size_t k = 0; k < l.bond.size() && !space_aromatic; ++k)
      space_aromatic = l.parent[k] >= 0 && l.bond[k] == aromatic;
  if (!input_bonds || r.space.size == 0 || input_aromatic == space_aromatic) return;
  const std::string named_space = "the descriptor space '" + shown(r.space_name, false) + "'";
  const std::string named_input = "the input '" + shown(r.input.input.path, false) + "'";
  r.sinks->warning("warning: " + (space_aromatic ? named_space : named_input) +
                   " has aromatic bonds and " + (space_aromatic ? named_input : named_space) +
                   " none: aromatic and Kekulé forms of a ring are different bonds, so most "
                   "fragments will fall outside the space; write both with the same bond forms\n");
}

// Counts compounds [from, to) of the chunk in the space at every length they
// reach, length by length (so that a worker's indexes of one length serve a
// run of compounds at a time), and lays out each one's line (and its pairs,
// for `vectors`): pairs in descriptor-file order, length, then first meeting.
void count_compounds(const Run& r, SpaceChunk& ch, int from, int to, LengthContext& cx,
                     SpaceWorker& wk, Workspace& ws, bool lines, bool vectors) {
  // No set of a compound is longer than its bonds.
  long long bonds = 0;
  for (int j = from; j < to; ++j)
    bonds = std::max<long long>(bonds, ch.G[static_cast<std::size_t>(j)].es / 2);
  const long long last = std::min<long long>(r.settings.maxt, bonds);
  const long long lengths = std::max<long long>(last - r.settings.mint + 1, 0);
  if (wk.events.size() < static_cast<std::size_t>(lengths)) wk.events.resize(static_cast<std::size_t>(lengths));
  for (long long l = 0; l < lengths; ++l) {
    const long long t = r.settings.mint + l;
    cx.threshold = static_cast<int>(t);
    CompoundEvents& ev = wk.events[static_cast<std::size_t>(l)];
    ev.clear();
    for (int j = from; j < to; ++j) {
      check_cancel(cx.cancel);
      const Graph& G = ch.G[static_cast<std::size_t>(j)];
      if (t <= G.es / 2)
        // One epoch for the whole run: what a worker learns of a length stays true.
        enumerate_compound_events(G, cx, 1, ev, ws);
      else
        ev.ends.push_back(ev.entries.size());
    }
    ch.outside += ev.outside;
  }
  for (int j = from; j < to; ++j) {
    wk.pairs.clear();
    for (long long l = 0; l < lengths; ++l) {
      const CompoundEvents& ev = wk.events[static_cast<std::size_t>(l)];
      const std::size_t k = static_cast<std::size_t>(j - from);
      const std::size_t begin = k == 0 ? 0 : ev.ends[k - 1];
      if (begin == ev.ends[k]) continue;
      const std::vector<int>& id =
          r.space.by_length[static_cast<std::size_t>(r.settings.mint + l)].id;
      for (std::size_t e = begin; e < ev.ends[k]; ++e) {
        const int d = id[static_cast<std::size_t>(ev.entries[e].handle)];
        wk.pairs.push_back(DescriptorCount{d, ev.entries[e].n});
        if (wk.met[static_cast<std::size_t>(d)] == 0) {
          wk.met[static_cast<std::size_t>(d)] = 1;
          ch.met.push_back(d);
        }
      }
    }
    if (lines) append_descriptor_line(ch.name[static_cast<std::size_t>(j)], wk.pairs, ch.text);
    if (vectors) {
      ch.pairs.insert(ch.pairs.end(), wk.pairs.begin(), wk.pairs.end());
      ch.ends.push_back(ch.pairs.size());
    }
  }
}

}  // namespace

Summary count_in_space(Run& r) {
  const Sinks& sinks = *r.sinks;
  const Loaded& in = r.input;
  const int total = in.total;
  const std::vector<RecordStart>& starts = in.starts;
  // Chunks of `group` consecutive starts the first pass noted.
  const int size = r.chunk > 0 ? r.chunk : std::clamp(total / (8 * r.threads), 1, kMaxChunkCompounds);
  const int stride = std::max(r.request.stride, 1);
  const int group = std::max(1, size / stride);
  const int noted = static_cast<int>(starts.size());
  const int chunks = (noted + group - 1) / group;
  const auto start_of = [&](int c) { return starts[static_cast<std::size_t>(c * group)]; };
  const auto end_of = [&](int c) { return c + 1 < chunks ? start_of(c + 1).index : total; };

  std::vector<SpaceChunk> slot(static_cast<std::size_t>(chunk_window(r)));
  std::vector<SpaceWorker> worker(static_cast<std::size_t>(r.threads));
  for (SpaceWorker& w : worker) w.met.assign(static_cast<std::size_t>(r.space.size) + 1, 0);
  const bool lines = static_cast<bool>(sinks.descriptors);
  const bool vectors = static_cast<bool>(sinks.vectors);
  // Occurrences are reported by the one thread there is, compound by compound.
  int reporting = 0;
  const OccurrenceReport report = [&reporting, &sinks](int descriptor, std::span<const int> atoms,
                                                       std::span<const int> bonds) {
    sinks.occurrences(Occurrence{reporting, descriptor, atoms, bonds});
  };

  const ChunkTask task = [&](int c, int at, int k, Workspace& ws) {
    SpaceChunk& ch = slot[static_cast<std::size_t>(at)];
    const RecordStart first = start_of(c);
    const int count = end_of(c) - first.index;
    ch.G.resize(static_cast<std::size_t>(count));
    ch.name.resize(static_cast<std::size_t>(count));
    ch.text.clear();
    ch.pairs.clear();
    ch.ends.clear();
    ch.met.clear();
    ch.outside = 0;
    ch.bonds = false;
    ch.aromatic = false;
    ch.read = 0;
    ch.sum = ByteSum{};
    ch.read = read_record_run(
        r.request, in, first, count, c == 0 ? 0 : first.pos,
        c + 1 < chunks ? start_of(c + 1).pos : std::string_view::npos,
        [&ch, &first](int i, const std::string& name, Graph& g) {
          ch.G[static_cast<std::size_t>(i - first.index)] = std::move(g);
          ch.name[static_cast<std::size_t>(i - first.index)] = name;
        },
        &ch.sum);
    // Fewer compounds than the first pass counted: the merge tells why.
    if (ch.read != count) return;
    const int aromatic = ptr_array_index(kBondTypes[3].label, r.ls.el);
    for (const Graph& g : ch.G) {
      ch.bonds = ch.bonds || g.es > 0;
      ch.aromatic = ch.aromatic || std::find(g.el.begin(), g.el.end(), aromatic) != g.el.end();
    }
    LengthContext cx;
    cx.ls = &r.ls;
    cx.opt = r.opt;
    cx.space = &r.space;
    cx.cancel = sinks.cancel;
    if (sinks.occurrences) cx.occurrence = &report;
    SpaceWorker& wk = worker[static_cast<std::size_t>(k)];
    if (!sinks.occurrences) {
      count_compounds(r, ch, 0, count, cx, wk, ws, lines, vectors);
      return;
    }
    // Occurrences are reported compound by compound (one thread, then).
    for (int j = 0; j < count; ++j) {
      reporting = first.index + j;
      count_compounds(r, ch, j, j + 1, cx, wk, ws, lines, vectors);
    }
  };

  std::vector<unsigned char> met(static_cast<std::size_t>(r.space.size) + 1, 0);
  long long met_count = 0;
  std::int64_t outside = 0;
  bool input_bonds = false, input_aromatic = false;
  ByteSum sum;
  const ChunkMerge merge = [&](int c, int at, int, const std::exception_ptr& failure) {
    SpaceChunk& ch = slot[static_cast<std::size_t>(at)];
    sum = sum + ch.sum;
    const RecordStart first = start_of(c);
    if (input_failure(failure) || (failure == nullptr && ch.read != end_of(c) - first.index)) {
      // Every chunk so far is summed: the rest is read once more, so that a
      // changed file is told before anything read from it.
      ByteSum all = sum;
      if (c + 1 < chunks) all = all + sum_input_from(r.request, in, start_of(c + 1).pos);
      check_input_unchanged(in, all);
      // The same bytes frame the same records.
      SARVIK_ASSERT(failure != nullptr, kModule);
    }
    if (failure != nullptr) return;
    if (lines) sinks.descriptors(ch.text);
    if (vectors)
      for (std::size_t j = 0; j < ch.ends.size(); ++j) {
        const std::size_t from = j == 0 ? 0 : ch.ends[j - 1];
        sinks.vectors(first.index + static_cast<int>(j), ch.name[j],
                      std::span<const DescriptorCount>(ch.pairs.data() + from, ch.ends[j] - from));
      }
    for (const int d : ch.met)
      if (met[static_cast<std::size_t>(d)] == 0) {
        met[static_cast<std::size_t>(d)] = 1;
        ++met_count;
      }
    outside += ch.outside;
    input_bonds = input_bonds || ch.bonds;
    input_aromatic = input_aromatic || ch.aromatic;
    if (sinks.progress) sinks.progress(Progress{0, end_of(c), total, met_count});
  };
  run_chunks(r, chunks, task, merge);
  // With no compound, nothing was read a second time: the whole input is.
  if (chunks == 0) sum = sum_input_from(r.request, in, 0);
  check_input_unchanged(in, sum);
  warn_of_bond_forms(r, input_bonds, input_aromatic);

  // The lines a run length by length prints: per length, the descriptors met
  // so far, all lengths together.
  for (long long length = r.settings.mint; length <= r.settings.maxt; ++length) {
    check_cancel(sinks.cancel);
    say(r, printed("threshold = %lld\n", length));
    if (static_cast<std::size_t>(length) < r.space.by_length.size())
      for (const int d : r.space.by_length[static_cast<std::size_t>(length)].id)
        r.k += met[static_cast<std::size_t>(d)];
    say(r, printed("total upto this threshold = %lld,value of k = %lld\n", r.k, r.k));
  }
  say(r, printed("total features stored after freq elimination = %lld\n", r.k));
  say(r, "Descriptors generated : writing id and frequency files\n");
  if (sinks.complete) sinks.complete();
  say(r, printed("occurrences outside the descriptor space = %lld\n", outside));
  Summary summary;
  summary.compounds = total;
  summary.descriptors = r.k;
  summary.outside = outside;
  return summary;
}

}  // namespace sarvik
