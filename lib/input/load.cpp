// The loading entry: reads the input once into memory, runs the reader's two
// passes chosen by filetype over those bytes, loads the label set in between
// and creates the per-compound run tables. With a descriptor space, the space's
// fragment file is read the same way, under one label set with the input.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "input/input_detail.h"

namespace {

// The whole file; refuses a compressed one.
std::string snapshot(const std::string& path, int format) {
  std::string text = read_whole_file(path);
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0x1f &&
      static_cast<unsigned char>(text[1]) == 0x8b)
    error("the input file '" + path +
          "' is compressed (gzip); compressed input is not read: unpack it first, for "
          "example with gunzip -c '" + path + "' > unpacked" + (format == kInputSd ? ".sdf" : ".mol2") +
          "\n");
  return text;
}

int first_pass(const std::string& input, std::string& dict,
               std::vector<RecordStart>* starts = nullptr, int parts = 1) {
  return filetype == kInputSd ? calculate_total_comps(input, dict, starts, parts)
                              : calculate_total_comps_mol2(input, dict, starts, parts);
}

int filling_pass(const std::string& input, const GraphSink& take, const RecordRun& run = {}) {
  return filetype == kInputSd ? read_sdf_file(input, take, run) : read_mol2_file(input, take, run);
}

// The input's filling pass on `threads` threads, each over a run of records of
// about equal bytes. Where runs fail, the run ends with the failure of the
// earliest, which is the one reading them in order would have met.
void fill_in_parallel(const std::string& input, const std::vector<RecordStart>& starts,
                      std::vector<Graph>& graphs) {
  const int total = static_cast<int>(starts.size());
  const int parts = std::min(threads, total);
  std::vector<int> first(static_cast<std::size_t>(parts) + 1, total);
  for (int t = 0, k = 0; t < parts; ++t) {
    const std::size_t from = input.size() / static_cast<std::size_t>(parts) * static_cast<std::size_t>(t);
    while (k < total && starts[static_cast<std::size_t>(k)].pos < from) ++k;
    // Every run gets a record at least.
    const int lo = t == 0 ? 0 : first[static_cast<std::size_t>(t) - 1] + 1;
    first[static_cast<std::size_t>(t)] = std::min(std::max(k, lo), total - (parts - t));
    k = first[static_cast<std::size_t>(t)];
  }
  const GraphSink take = [&graphs](int k, Graph& g) { graphs[static_cast<std::size_t>(k)] = std::move(g); };
  const std::vector<ThreadFailure> failure =
      run_side_by_side(static_cast<std::size_t>(parts), [&](std::size_t t) {
        const RecordRun run{first[t], first[t + 1] - first[t],
                            starts[static_cast<std::size_t>(first[t])]};
        SARVIK_ASSERT(filling_pass(input, take, run) == run.count, "load");
      });
  for (const ThreadFailure& f : failure)
    if (f.failed) f.end_run();
}

// While alive, the readers read the descriptor space: messages name its file,
// and labels are taken as written there (the label options are checked against
// them later).
struct ReadingSpace {
  const std::string input_name = filestub;
  const int atm = NoAtmLabels;
  const int bnd = NoBndLabels;
  ReadingSpace() {
    filestub = dspace_file;
    NoAtmLabels = 0;
    NoBndLabels = 0;
  }
  ~ReadingSpace() {
    filestub = input_name;
    NoAtmLabels = atm;
    NoBndLabels = bnd;
  }
  ReadingSpace(const ReadingSpace&) = delete;
  ReadingSpace& operator=(const ReadingSpace&) = delete;
};

}  // namespace

std::vector<Graph> read_compounds(const GraphSink* space) {
  std::vector<Graph> graphs;
  {
    // One snapshot: every pass sees the same bytes, whatever happens to the
    // file meanwhile. It is released before the occurrence lists are made.
    const std::string input = snapshot(filestub, filetype);
    std::string space_text;
    std::string space_dict;
    int space_total = 0;
    if (space != nullptr) {
      space_text = snapshot(dspace_file, filetype);
      // The space must come from a run over input of the same format.
      const bool mol2_space = space_text.find("@<TRIPOS>MOLECULE") != std::string::npos;
      if (filetype == kInputSd && mol2_space)
        error("descriptor space '" + dspace_file +
              "': it holds Mol2 molecules, but the input is an SD file: give the fragment "
              "file of a run over SD input\n");
      if (filetype == kInputMol2 && !mol2_space && !is_blank_text(space_text))
        error("descriptor space '" + dspace_file +
              "': it holds no Mol2 molecule, but the input is a Mol2 file: give the "
              "fragment file of a run over Mol2 input\n");
      const ReadingSpace reading;
      space_total = first_pass(space_text, space_dict);
    }
    std::string dict;
    // On several threads the filling pass is split where records begin.
    std::vector<RecordStart> starts;
    const int total = first_pass(input, dict, threads > 1 ? &starts : nullptr, threads);
    std::printf("total compounds = %d\n", total);
    // One label set for both: label integers are ranks among the labels of this
    // run, so the space's fragments and the input's must share them.
    ls = graph_load_labelset(dict + space_dict);
    if (space != nullptr) {
      const ReadingSpace reading;
      name.assign(space_total, std::string());
      const int num = filling_pass(space_text, *space);
      SARVIK_ASSERT(num == space_total, "load");
    }
    graphs.resize(total);
    name.assign(total, std::string());
    if (threads > 1 && total > 1) {
      fill_in_parallel(input, starts, graphs);
    } else {
      const int num = filling_pass(input, [&graphs](int k, Graph& g) { graphs[k] = std::move(g); });
      SARVIK_ASSERT(num == total, "load");
    }
  }
  const std::size_t total = graphs.size();
  csrcount.assign(total, CSRcount{0, CSR_LEN, 0});
  csr.assign(total, std::vector<CSR>());
  for (std::vector<CSR>& list : csr) list.reserve(CSR_LEN);
  return graphs;
}
