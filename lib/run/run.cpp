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

// Settings out of range end the run before anything is read.
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

// Warns when the space's fragments and the input's compounds draw aromatic
// bonds differently: one with aromatic bonds, the other with none. Aromatic
// and Kekule bonds are different bond types, so most fragments would fall
// outside the space without anything failing.
void warn_of_bond_forms(const Run& r, const Source& input, const std::string& space) {
  if (!r.sinks->warning || r.settings.NoBndLabels == 1) return;
  const int aromatic = ptr_array_index(kBondTypes[3].label, r.ls.el);
  bool input_bonds = false;
  bool input_aromatic = false;
  for (const Graph& g : r.G) {
    input_bonds = input_bonds || g.es > 0;
    input_aromatic = input_aromatic || std::find(g.el.begin(), g.el.end(), aromatic) != g.el.end();
    if (input_aromatic) break;
  }
  bool space_aromatic = false;
  for (const DescriptorSpace::Length& l : r.space.by_length)
    for (std::size_t k = 0; k < l.bond.size() && !space_aromatic; ++k)
      space_aromatic = l.parent[k] >= 0 && l.bond[k] == aromatic;
  if (!input_bonds || r.space.size == 0 || input_aromatic == space_aromatic) return;
  const std::string named_space = "the descriptor space '" + shown(space, false) + "'";
  const std::string named_input = "the input '" + shown(input.path, false) + "'";
  r.sinks->warning("warning: " + (space_aromatic ? named_space : named_input) +
                   " has aromatic bonds and " + (space_aromatic ? named_input : named_space) +
                   " none: aromatic and Kekulé forms of a ring are different bonds, so most "
                   "fragments will fall outside the space; write both with the same bond forms\n");
}

// Loads the compounds (and the descriptor space's records, from its fragment
// file or held) into r.
void load(Run& r, const Source& input, const Source* space_source, const Space* held) {
  LoadRequest request;
  request.input = &input;
  request.space = space_source;
  request.NoAtmLabels = r.settings.NoAtmLabels;
  request.NoBndLabels = r.settings.NoBndLabels;
  request.threads = r.threads;
  request.bond_numbers = static_cast<bool>(r.sinks->occurrences);
  request.cancel = r.sinks->cancel;
  request.more_labels = r.more_labels;
  request.first_position = r.first_position;
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
  Loaded loaded;
  rule.ls = &loaded.ls;
  read_compounds(request, loaded);
  r.G = std::move(loaded.G);
  r.name = std::move(loaded.name);
  r.ls = std::move(loaded.ls);
  if (r.in_space) {
    descriptor_space_check_repeats(r.space, rule);
    warn_of_bond_forms(r, input, rule.file);
  }
  occurrences_init(r.occ, static_cast<int>(r.G.size()));
}

}  // namespace

namespace {

// The length sweep mint..maxt.
void sweep(Run& r) {
  const Sinks& sinks = *r.sinks;
  const std::atomic<bool>* cancel = sinks.cancel;
  const int total = static_cast<int>(r.G.size());
  int reporting = 0;  // the compound whose occurrences are reported
  const OccurrenceReport report = [&reporting, &sinks](int descriptor, std::span<const int> atoms,
                                                       std::span<const int> bonds) {
    sinks.occurrences(Occurrence{reporting, descriptor, atoms, bonds});
  };
  // A wide counter, so that -lmax at the largest int still ends the sweep.
  for (long long length = r.settings.mint; length <= r.settings.maxt; ++length) {
    check_cancel(cancel);
    r.threshold = static_cast<int>(length);
    say(r, printed("threshold = %lld\n", r.threshold));
    if (r.in_space)
      table_begin_space_length(r.hashg,
                               static_cast<std::size_t>(length) < r.space.by_length.size()
                                   ? r.space.by_length[length].id
                                   : std::vector<int>(),
                               r.map);
    LengthContext cx;
    cx.ls = &r.ls;
    cx.opt = r.opt;
    cx.threshold = r.threshold;
    cx.space = r.in_space ? &r.space : nullptr;
    cx.cancel = cancel;
    if (r.threads > 1) {
      enumerate_length_in_parallel(r, cx);
    } else {
      for (int i = 0; i < total; ++i) {
        if (sinks.occurrences) {
          cx.occurrence = &report;
          reporting = i;
        }
        check_cancel(cancel);
        find_all_spanning(r.G[i], i, cx, r.hashg, r.occ, r.ws);
        csr_end_length(r.occ, i);
        show_progress(r, i + 1, r.in_space ? r.k : r.hashg.count);
      }
    }
    check_cancel(cancel);
    if (r.in_space) {
      r.k += table_end_space_length(r.hashg);
      say(r, printed("total upto this threshold = %lld,value of k = %lld\n", r.k, r.k));
      continue;
    }
    if (r.threads > 1) {
      write_records_in_background(r, length == r.settings.maxt);
    } else {
      sweep_length(r.hashg, SweepRule{r.settings.freqt, r.filetype, &r.ls}, r.k, r.map,
                   r.writer.records);
      if (sinks.fragments)
        write_fragment_records(r.writer.records, r.ls, r.filetype, 1, sinks.fragments, cancel);
      if (r.made) space_append(*r.made, r.writer.records);
      if (length == r.settings.maxt && sinks.fragments_complete) sinks.fragments_complete();
    }
    say(r, printed("total upto this threshold = %lld,value of k = %lld\n", r.hashg.count, r.k));
  }
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
  r.hashg = initialize_hash();
  r.map.clear();
  if (sinks.space && !r.in_space) {
    r.made = std::make_shared<SpaceData>();
    r.made->format = input.format;
    r.made->name = input.path;
  }
  load(r, input, space_source, held);
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
  summary.outside = r.hashg.outside;
  r.G.clear();
  r.G.shrink_to_fit();
  r.hashg = FragmentTable{};

  say(r, "Descriptors generated : writing id and frequency files\n");
  if (sinks.descriptors)
    write_descriptor_file(r.occ, r.map, r.name, r.threads, sinks.descriptors, cancel);
  if (sinks.vectors) {
    std::vector<DescriptorCount> pairs;
    for (int i = 0; i < total; ++i) {
      if ((i & 1023) == 0) check_cancel(cancel);
      descriptor_vector(r.occ, r.map, i, pairs);
      sinks.vectors(i, r.name[static_cast<std::size_t>(i)], pairs);
    }
  }
  if (r.made) {
    r.made->ls = r.ls;
    Space space;
    space.data = std::move(r.made);
    sinks.space(std::move(space));
  }
  if (sinks.complete) sinks.complete();
  if (r.in_space)
    say(r, printed("occurrences outside the descriptor space = %lld\n", summary.outside));
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
