// The run: settings, loading, the length sweep, the descriptor file, the end.
#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "input/input.h"
#include "run/run_detail.h"

namespace sarvik {

namespace {

constexpr const char* kModule = "run";
// More threads than this would only share the same cores.
constexpr int kMaxThreads = 1024;

// The run's progress lines, as the command line prints them. While fragment
// records are in writing, the lines after them wait: a failure of that writing
// ends the run where one thread, which writes them at once, would have ended
// it, with none of the later lines.
void say(Run& r, const std::string& line) {
  if (r.writer.thread.joinable())
    r.held += line;
  else if (r.sinks->message)
    r.sinks->message(line);
}

std::string printed(const char* format, long long a, long long b = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

void show_progress(const Run& r, int done, long long fragments) {
  if (r.sinks->progress)
    r.sinks->progress(Progress{r.threshold, done, static_cast<int>(r.G.size()), fragments});
}

// Loads the input's first pass and the descriptor space's records (from its
// fragment file or held) into r, then, but for a run in a space (which reads
// the compounds as it counts them), every compound.
void load(Run& r, const Source& input, const Source* space_source, const Space* held) {
  LoadRequest& request = r.request;
  request.input = &input;
  request.space = space_source;
  request.NoAtmLabels = r.settings.NoAtmLabels;
  request.NoBndLabels = r.settings.NoBndLabels;
  request.threads = r.threads;
  request.bond_numbers = static_cast<bool>(r.sinks->occurrences);
  request.cancel = r.sinks->cancel;
  request.more_labels = r.more_labels;
  request.first_position = r.first_position;
  request.stride = r.stride;
  request.counted = [&r](int total) { say(r, printed("total compounds = %lld\n", total)); };
  // The space's records are taken as they are read: only their trees are kept.
  SpaceRule rule;
  if (space_source != nullptr || held != nullptr) {
    rule.file = held != nullptr ? held->name() : space_source->path;
    rule.mint = r.settings.mint;
    rule.maxt = r.settings.maxt;
    rule.opt = r.opt;
    rule.format = r.filetype;
    rule.NoAtmLabels = r.settings.NoAtmLabels;
    rule.NoBndLabels = r.settings.NoBndLabels;
    request.space_record = [&r, &rule](int position, const std::string& title, Graph& record) {
      descriptor_space_add(r.space, rule, position, record, title);
    };
    r.space_name = rule.file;
  }
  if (held != nullptr) {
    check_space_format(held->name(), input.format,
                       held->format() == Format::mol2 && held->size() > 0, held->size() == 0);
    request.more_labels.insert(request.more_labels.end(), held->data->ls.vl.buf.begin(),
                               held->data->ls.vl.buf.end());
    request.labelled = [&r, &rule, held](const LabelSet& ls) {
      space_into_run(*held->data, rule, ls, r.space, r.sinks->cancel);
    };
  }
  // The space's records arrive once the label set is made, which the rule reads.
  rule.ls = &r.input.ls;
  read_labels(request, r.input);
  request.counted = nullptr;
  request.space_record = nullptr;
  request.labelled = nullptr;
  r.ls = r.input.ls;
  if (r.in_space) {
    descriptor_space_check_repeats(r.space, rule);
    return;
  }
  read_graphs(request, r.input);
  r.G = std::move(r.input.G);
  r.name = std::move(r.input.name);
  // The lists go to a scratch file beside the outputs where the caller allows.
  SpillFile spill;
  if (!r.sinks->scratch.empty()) {
    r.scratch = std::make_unique<ScratchFile>(r.sinks->scratch);
    ScratchFile* file = r.scratch.get();
    spill.append = [file](std::string_view bytes) { file->append(bytes); };
    spill.read = [file](std::uint64_t at, char* dst, std::size_t n) { file->read(at, dst, n); };
  }
  occurrences_init(r.occ, static_cast<int>(r.G.size()), std::move(spill));
}

}  // namespace

void check_settings(const Settings& s, bool in_space) {
  const auto refuse = [](const std::string& what) { error(ErrorKind::usage, what + "\n"); };
  if (s.option != "QZ" && s.option != "TF" && s.option != "PF")
    refuse("invalid fragment type '" + s.option + "': QZ, TF or PF");
  if (s.mint < 1) refuse("invalid smallest length " + std::to_string(s.mint) + ": 1 or more");
  if (s.maxt < 1) refuse("invalid largest length " + std::to_string(s.maxt) + ": 1 or more");
  if (s.freqt < 0) refuse("invalid minimum frequency " + std::to_string(s.freqt));
  if (in_space && s.freqt != 1)
    refuse("a minimum frequency has no meaning in a descriptor space: every fragment of the "
           "space is counted");
  if ((s.NoAtmLabels != 0 && s.NoAtmLabels != 1) || (s.NoBndLabels != 0 && s.NoBndLabels != 1))
    refuse("label options are 0 or 1");
  if (s.threads < 0 || s.threads > kMaxThreads)
    refuse("invalid thread count " + std::to_string(s.threads) + ": 0 to " +
           std::to_string(kMaxThreads));
}

namespace {

// Asks for the arrays of compound G to be brought into the cache while the
// compound before it is enumerated: at every length the sweep reads each
// compound anew, long after the last time.
void prefetch_compound(const Graph& G) {
  const auto ahead = [](const std::vector<int>& a) {
    const char* p = reinterpret_cast<const char*>(a.data());
    const std::size_t bytes = a.size() * sizeof(int);
    for (std::size_t at = 0; at < bytes; at += 64) __builtin_prefetch(p + at);
  };
  ahead(G.v);
  ahead(G.e);
  ahead(G.el);
  ahead(G.vl);
}

// The length sweep mint..maxt.
void sweep(Run& r) {
  const Sinks& sinks = *r.sinks;
  const std::atomic<bool>* cancel = sinks.cancel;
  const int total = static_cast<int>(r.G.size());
  // A wide counter, so that -lmax at the largest int still ends the sweep.
  for (long long length = r.settings.mint; length <= r.settings.maxt; ++length) {
    check_cancel(cancel);
    r.threshold = static_cast<int>(length);
    // On several threads, the length before's sweep prints this line once it
    // has printed its own.
    if (r.threads == 1 || length == r.settings.mint) say(r, printed("threshold = %lld\n", r.threshold));
    occurrences_begin_length(r.occ);
    LengthContext cx;
    cx.ls = &r.ls;
    cx.opt = r.opt;
    cx.threshold = r.threshold;
    cx.cancel = cancel;
    if (r.threads > 1) {
      enumerate_length_in_parallel(r, cx);
    } else {
      for (int i = 0; i < total; ++i) {
        check_cancel(cancel);
        if (i + 1 < total) prefetch_compound(r.G[static_cast<std::size_t>(i) + 1]);
        find_all_spanning(r.G[i], i, cx, r.hashg, r.occ, r.ws);
        csr_end_length(r.occ, i);
        show_progress(r, i + 1, r.hashg.count);
      }
    }
    if (r.threads > 1) {
      sweep_in_background(r, length == r.settings.maxt);
    } else {
      sweep_length(r.hashg, SweepRule{r.settings.freqt, r.filetype, &r.ls}, r.k, r.map,
                   r.writer.records);
      if (sinks.fragments)
        write_fragment_records(r.writer.records, r.ls, r.filetype, 1, sinks.fragments, cancel);
      if (r.made) space_append(*r.made, r.writer.records);
      if (length == r.settings.maxt && sinks.fragments_complete) sinks.fragments_complete();
      say(r, printed("total upto this threshold = %lld,value of k = %lld\n", r.hashg.count, r.k));
    }
  }
  // The last length's sweep prints its lines.
  report_sweep(r, true);
}

}  // namespace

Summary run_with(Run& r, const Settings& settings, const Source& input, const Source* space_source,
                 const Sinks& sinks, const Space* held) {
  SARVIK_ASSERT(space_source == nullptr || held == nullptr, kModule);
  r.in_space = space_source != nullptr || held != nullptr;
  check_settings(settings, r.in_space);
  r.settings = settings;
  r.sinks = &sinks;
  r.opt = settings.option == "TF"   ? kFragmentsTrees
          : settings.option == "PF" ? kFragmentsPaths
                                    : kFragmentsAll;
  r.filetype = input.format;
  // 0: every core the machine reports (1 when it reports none).
  r.threads = settings.threads > 0
                  ? settings.threads
                  : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, kMaxThreads);
  // Occurrences are reported from one thread, in compound order.
  if (sinks.occurrences) r.threads = 1;
  if (sinks.space && !r.in_space) {
    r.made = std::make_shared<SpaceData>();
    r.made->format = input.format;
    r.made->name = input.path;
  }
  load(r, input, space_source, held);
  if (r.in_space) return count_in_space(r);
  r.hashg = initialize_hash();
  r.map.clear();
  const int total = static_cast<int>(r.G.size());
  const std::atomic<bool>* cancel = sinks.cancel;

  try {
    sweep(r);
  } catch (...) {
    // A failure of the records in writing came first, in the one-thread order;
    // else the lines said before this failure are said, then it ends the run.
    finish_background_records(r);
    throw;
  }
  // The fragment file is whole before the descriptor file is written, so that a
  // device that fills up fails the file it fails on one thread.
  finish_background_records(r);
  say(r, printed("total features stored after freq elimination = %lld\n", r.k));

  Summary summary;
  summary.compounds = total;
  summary.fragments = r.hashg.count;
  summary.descriptors = r.k;
  r.G.clear();
  r.G.shrink_to_fit();
  r.hashg = FragmentTable{};

  say(r, "Descriptors generated : writing id and frequency files\n");
  spill_flush(r.occ.spill);
  occurrences_name_descriptors(r.occ, r.map);
  if (sinks.descriptors)
    write_descriptor_file(r.occ, r.map, r.name, r.threads, sinks.descriptors, cancel);
  if (sinks.vectors)
    descriptor_vectors(
        r.occ, r.map,
        [&r, &sinks](int i, std::span<const DescriptorCount> pairs) {
          sinks.vectors(i, r.name[static_cast<std::size_t>(i)], pairs);
        },
        cancel);
  if (r.made) {
    r.made->ls = r.ls;
    Space space;
    space.data = std::move(r.made);
    sinks.space(std::move(space));
  }
  if (sinks.complete) sinks.complete();
  SARVIK_ASSERT(summary.compounds == total, kModule);
  return summary;
}

Summary run(const Settings& settings, const Source& input, const Source* space, const Sinks& sinks) {
  Run r;
  return run_with(r, settings, input, space, sinks);
}

Summary run(const Settings& settings, const Source& input, const Space& space, const Sinks& sinks) {
  Run r;
  return run_with(r, settings, input, nullptr, sinks, &space);
}

}  // namespace sarvik
