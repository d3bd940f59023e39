// The loading entry: reads a source once into memory (or takes its bytes), runs
// the reader's two passes over those bytes with the label set made in between,
// and collects the compounds and their names. With a descriptor space, the
// space's fragment file is read the same way, under one label set with the
// input.
#include <algorithm>
#include <vector>

#include "input/input_detail.h"

namespace sarvik {

namespace {

// The bytes of a source (the input, or with `space` the descriptor space):
// given, or the whole file, which is refused when compressed.
std::string_view source_bytes(const Source& source, bool space, std::string& storage) {
  if (source.bytes) return *source.bytes;
  storage = read_whole_file(source.path, space);
  if (storage.size() >= 2 && static_cast<unsigned char>(storage[0]) == 0x1f &&
      static_cast<unsigned char>(storage[1]) == 0x8b) {
    const std::string path = shown(source.path, false);
    error((space ? "the descriptor space '" : "the input file '") + path +
          "' is compressed (gzip); compressed input is not read: unpack it first, for "
          "example with gunzip -c '" + path + "' > unpacked" +
          (source.format == Format::sd ? ".sdf" : ".mol2") + "\n");
  }
  return storage;
}

// Whether text begins like a descriptor file: a quoted name, a comma, a count.
bool looks_like_descriptor_file(std::string_view text) {
  const std::size_t quote = text.find("\",");
  return !text.empty() && text[0] == '"' && quote != std::string_view::npos &&
         quote + 2 < text.size() && text[quote + 2] >= '0' && text[quote + 2] <= '9' &&
         text.substr(0, quote).find('\n') == std::string_view::npos;
}

FirstPassPart first_pass(Format format, std::string_view input, const ReadContext& cx,
                         int threads = 1) {
  return format == Format::sd ? calculate_total_comps(input, cx, threads)
                              : calculate_total_comps_mol2(input, cx, threads);
}

int filling_pass(Format format, std::string_view input, const ReadContext& cx,
                 const GraphSink& take, const RecordRun& run = {}) {
  return format == Format::sd ? read_sdf_file(input, cx, take, run)
                              : read_mol2_file(input, cx, take, run);
}

// The input's filling pass on `threads` threads, each over a run of records of
// about equal bytes. Where runs fail, the run ends with the failure of the
// earliest, which is the one reading them in order would have met.
void fill_in_parallel(Format format, std::string_view input, const ReadContext& cx,
                      const std::vector<RecordStart>& starts, int threads, Loaded& out) {
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
  const GraphSink take = [&out](int k, const std::string& name, Graph& g) {
    out.G[static_cast<std::size_t>(k)] = std::move(g);
    out.name[static_cast<std::size_t>(k)] = name;
  };
  const std::vector<std::exception_ptr> failure =
      run_side_by_side(static_cast<std::size_t>(parts), [&](std::size_t t) {
        const RecordRun run{first[t], first[t + 1] - first[t],
                            starts[static_cast<std::size_t>(first[t])]};
        SARVIK_ASSERT(filling_pass(format, input, cx, take, run) == run.count, "load");
      });
  for (const std::exception_ptr& f : failure)
    if (f != nullptr) std::rethrow_exception(f);
}

}  // namespace

void check_space_format(const std::string& file, Format format, bool mol2, bool blank) {
  const std::string named = shown(file, false);
  if (format == Format::sd && mol2)
    error("descriptor space '" + named +
          "': it holds Mol2 molecules, but the input is an SD file: give the fragment "
          "file of a run over SD input\n");
  if (format == Format::mol2 && !mol2 && !blank)
    error("descriptor space '" + named +
          "': it holds no Mol2 molecule, but the input is a Mol2 file: give the "
          "fragment file of a run over Mol2 input\n");
}

void read_compounds(const LoadRequest& request, Loaded& out) {
  const Source& source = *request.input;
  const Format format = source.format;
  // One copy of each file: every pass sees the same bytes, whatever happens to
  // the file meanwhile.
  std::string input_storage;
  const std::string_view input = source_bytes(source, false, input_storage);
  std::string space_storage;
  std::string_view space_text;
  // The space's records are read with labels as written there; the label
  // options are checked against them as the records are taken.
  ReadContext space_cx;
  FirstPassPart space_pass;
  if (request.space != nullptr) {
    const Source& space = *request.space;
    space_text = source_bytes(space, true, space_storage);
    const std::string named = shown(space.path, false);
    if (looks_like_descriptor_file(space_text))
      error("descriptor space '" + named +
            "': it is a descriptor file (a line per compound), not a fragment file: give the "
            "fragment file of the run that made the space (<stem>_frag.sdf or "
            "<stem>_frag.mol2)\n");
    // The space must come from a run over input of the same format.
    check_space_format(space.path, format,
                       space_text.find("@<TRIPOS>MOLECULE") != std::string_view::npos,
                       is_blank_text(space_text));
    space_cx.file = space.path;
    space_cx.space = true;
    space_cx.cancel = request.cancel;
    space_pass = first_pass(format, space_text, space_cx);
  }
  ReadContext cx;
  cx.file = source.path;
  cx.NoAtmLabels = request.NoAtmLabels;
  cx.NoBndLabels = request.NoBndLabels;
  cx.bond_numbers = request.bond_numbers;
  cx.cancel = request.cancel;
  cx.first_position = request.first_position;
  FirstPassPart pass = first_pass(format, input, cx, request.threads);
  const int total = pass.count;
  if (request.counted) request.counted(total);
  // One label set for both: label integers are ranks among the labels of this
  // run, so the space's fragments and the input's must share them.
  out.atom_labels = std::move(pass.labels);
  std::vector<std::string> labels = out.atom_labels;
  labels.insert(labels.end(), space_pass.labels.begin(), space_pass.labels.end());
  labels.insert(labels.end(), request.more_labels.begin(), request.more_labels.end());
  out.ls = make_labelset(labels, format);
  cx.ls = &out.ls;
  space_cx.ls = &out.ls;
  if (request.labelled) request.labelled(out.ls);
  if (request.space != nullptr) {
    const int num = filling_pass(format, space_text, space_cx, request.space_record);
    SARVIK_ASSERT(num == space_pass.count, "load");
  }
  out.G.resize(static_cast<std::size_t>(total));
  out.name.resize(static_cast<std::size_t>(total));
  if (request.threads > 1 && total > 1) {
    fill_in_parallel(format, input, cx, pass.starts, request.threads, out);
  } else {
    const int num = filling_pass(format, input, cx, [&out](int k, const std::string& name, Graph& g) {
      out.G[static_cast<std::size_t>(k)] = std::move(g);
      out.name[static_cast<std::size_t>(k)] = name;
    });
    SARVIK_ASSERT(num == total, "load");
  }
}

}  // namespace sarvik
