// The loading entry: runs the reader's two passes over a source with the label
// set made in between, and collects the compounds and their names. A file is
// read as a stream of windows in both passes, never held whole; a checksum of
// the bytes each pass read tells whether the file changed between them. With a
// descriptor space, the space's fragment file is read (whole) the same way,
// under one label set with the input.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "input/input_detail.h"

namespace sarvik {

namespace {

// What is read of a source's start to tell what it is.
constexpr std::size_t kHeadBytes = std::size_t{1} << 16;

// The source in messages: the input file '<path>' or the descriptor space
// '<path>'.
std::string source_called(const Source& source, bool space) {
  return (space ? "the descriptor space '" : "the input file '") + shown(source.path, false) + "'";
}

[[noreturn]] void refuse_compressed(const Source& source, bool space) {
  error(source_called(source, space) +
        " is compressed (gzip); compressed input is not read: unpack it first, for "
        "example with gunzip -c '" + shown(source.path, false) + "' > unpacked" +
        (source.format == Format::sd ? ".sdf" : ".mol2") + "\n");
}

bool gzip_magic(std::string_view head) {
  return head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0x1f &&
         static_cast<unsigned char>(head[1]) == 0x8b;
}

// Whether text begins like a descriptor file: a quoted name, a comma, a count.
bool looks_like_descriptor_file(std::string_view text) {
  const std::size_t quote = text.find("\",");
  return !text.empty() && text[0] == '"' && quote != std::string_view::npos &&
         quote + 2 < text.size() && text[quote + 2] >= '0' && text[quote + 2] <= '9' &&
         text.substr(0, quote).find('\n') == std::string_view::npos;
}

// The bytes at the start of a source (up to n), read through a handle of their
// own: errors name the source as such (the input, or with `space` the
// descriptor space).
std::string source_head(const Source& source, bool space, std::size_t n) {
  if (source.bytes) return std::string(source.bytes->substr(0, n));
  std::FILE* fp = open_input_file(source.path, space);
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(fp, std::fclose);
  std::string head(n, '\0');
  head.resize(std::fread(head.data(), 1, n, fp));
  if (std::ferror(fp)) {
    const int err = errno;
    error((space ? "can't read the descriptor space '" : "can't read the file '") +
          shown(source.path, false) + "': " + std::strerror(err) + "\n");
  }
  return head;
}

// A source as both passes read it: a regular file as it is (refused when
// compressed), bytes as given, and anything else (a pipe cannot be read twice)
// read whole into `held`. A space that is a descriptor file is refused.
Source readable(const Source& source, bool space, std::shared_ptr<const std::string>& held) {
  held.reset();
  Source result = source;
  std::string head;
  if (!source.bytes) {
    std::error_code ec;
#ifdef _WIN32
    const bool regular =
        std::filesystem::is_regular_file(std::filesystem::path(wide_name(source.path)), ec);
#else
    const bool regular = std::filesystem::is_regular_file(source.path, ec);
#endif
    if (!regular) {
      auto bytes = std::make_shared<std::string>(read_whole_file(source.path, space));
      held = bytes;
      result.bytes = std::string_view(*held);
    }
  }
  head = source_head(result, space, kHeadBytes);
  if (gzip_magic(head)) refuse_compressed(source, space);
  if (space && looks_like_descriptor_file(head))
    error("descriptor space '" + shown(source.path, false) +
          "': it is a descriptor file (a line per compound), not a fragment file: give the "
          "fragment file of the run that made the space (<stem>_frag.sdf or "
          "<stem>_frag.mol2)\n");
  return result;
}

// Error kind input, naming the file, when the second reading of a source
// (`sum`) is not what the first read.
void check_unchanged(const char* what, const std::string& path, const ByteSum& first,
                     const ByteSum& sum) {
  if (sum != first)
    error(std::string(what) + " '" + shown(path, false) +
          "' changed while it was read (the second reading found other bytes than the first): "
          "run again once nothing writes to it\n");
}

FirstPassPart first_pass(Format format, const Source& input, const ReadContext& cx,
                         int threads = 1) {
  return format == Format::sd ? calculate_total_comps(input, cx, threads)
                              : calculate_total_comps_mol2(input, cx, threads);
}

int filling_pass(Format format, const Source& input, const ReadContext& cx,
                 const GraphSink& take, const RecordRun& run = {}, ByteSum* sum = nullptr) {
  return format == Format::sd ? read_sdf_file(input, cx, take, run, sum)
                              : read_mol2_file(input, cx, take, run, sum);
}

// How the input's passes read it.
ReadContext input_context(const LoadRequest& request, const Loaded& in) {
  ReadContext cx;
  cx.file = request.input->path;
  cx.NoAtmLabels = request.NoAtmLabels;
  cx.NoBndLabels = request.NoBndLabels;
  cx.bond_numbers = request.bond_numbers;
  cx.cancel = request.cancel;
  cx.first_position = request.first_position;
  cx.window = request.window;
  cx.stride = std::max(request.stride, 1);
  cx.ls = &in.ls;
  return cx;
}

}  // namespace

bool input_failure(const std::exception_ptr& f) {
  if (f == nullptr) return false;
  try {
    std::rethrow_exception(f);
  } catch (const Error& e) {
    return e.kind() == ErrorKind::input;
  } catch (...) {
    return false;
  }
}

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

void read_labels(const LoadRequest& request, Loaded& out) {
  const Source& source = *request.input;
  const Format format = source.format;
  out.input = readable(source, false, out.held);
  // The space is read in two passes too, never held whole; its records are
  // read with labels as written there, and the label options are checked
  // against them as the records are taken.
  ReadContext space_cx;
  FirstPassPart space_pass;
  Source space_source;
  std::shared_ptr<const std::string> space_held;
  if (request.space != nullptr) {
    const Source& space = *request.space;
    space_source = readable(Source{space.path, format, space.bytes}, true, space_held);
    // The space must come from a run over input of the same format: what it
    // holds, window by window (a header may span two windows).
    static constexpr std::string_view kHeader = "@<TRIPOS>MOLECULE";
    bool mol2_space = false, blank = true;
    std::string tail;
    scan_source(space_source, 0, [&](std::string_view bytes) {
      const std::string seam = tail + std::string(bytes.substr(0, kHeader.size() - 1));
      mol2_space = mol2_space || seam.find(kHeader) != std::string::npos ||
                   bytes.find(kHeader) != std::string_view::npos;
      blank = blank && is_blank_text(bytes);
      tail = std::string(bytes.substr(bytes.size() - std::min(bytes.size(), kHeader.size() - 1)));
    });
    check_space_format(space.path, format, mol2_space, blank);
    space_cx.file = space.path;
    space_cx.space = true;
    space_cx.cancel = request.cancel;
    space_cx.window = request.window;
    space_pass = first_pass(format, space_source, space_cx);
  }
  ReadContext cx = input_context(request, out);
  FirstPassPart pass = first_pass(format, out.input, cx, request.threads);
  out.total = pass.count;
  out.starts = std::move(pass.starts);
  out.sum = pass.sum;
  if (request.counted) request.counted(out.total);
  // One label set for both: label integers are ranks among the labels of this
  // run, so the space's fragments and the input's must share them.
  out.atom_labels = std::move(pass.labels);
  std::vector<std::string> labels = out.atom_labels;
  labels.insert(labels.end(), space_pass.labels.begin(), space_pass.labels.end());
  labels.insert(labels.end(), request.more_labels.begin(), request.more_labels.end());
  out.ls = make_labelset(labels, format);
  space_cx.ls = &out.ls;
  if (request.labelled) request.labelled(out.ls);
  if (request.space != nullptr) {
    ByteSum sum;
    int num = 0;
    try {
      num = filling_pass(format, space_source, space_cx, request.space_record, {}, &sum);
    } catch (const Error& e) {
      if (e.kind() == ErrorKind::input)
        check_unchanged("the descriptor space", space_source.path, space_pass.sum, sum);
      throw;
    }
    check_unchanged("the descriptor space", space_source.path, space_pass.sum, sum);
    SARVIK_ASSERT(num == space_pass.count, "load");
  }
}

void read_graphs(const LoadRequest& request, Loaded& out) {
  const int total = out.total;
  out.G.assign(static_cast<std::size_t>(total), Graph{});
  out.name.assign(static_cast<std::size_t>(total), std::string());
  // Runs of records of about equal bytes, each beginning at a start the first
  // pass noted (first[t] of them), every run at one at least.
  const std::vector<RecordStart>& starts = out.starts;
  const int noted = static_cast<int>(starts.size());
  const int parts = noted == 0 ? 1 : std::clamp(request.threads, 1, noted);
  const std::size_t size = source_size(out.input);
  std::vector<int> first(static_cast<std::size_t>(parts) + 1, noted);
  for (int t = 0, k = 0; t < parts && noted > 0; ++t) {
    const std::size_t from = size / static_cast<std::size_t>(parts) * static_cast<std::size_t>(t);
    while (k < noted && starts[static_cast<std::size_t>(k)].pos < from) ++k;
    const int lo = t == 0 ? 0 : first[static_cast<std::size_t>(t) - 1] + 1;
    k = std::min(std::max(k, lo), noted - (parts - t));
    first[static_cast<std::size_t>(t)] = k;
  }
  const auto start_of = [&](std::size_t t) {
    return noted == 0 ? RecordStart{} : starts[static_cast<std::size_t>(first[t])];
  };
  const auto end_of = [&](std::size_t t) {
    return t + 1 < static_cast<std::size_t>(parts) ? start_of(t + 1).index : total;
  };
  const GraphSink take = [&out](int k, const std::string& name, Graph& g) {
    Graph& kept = out.G[static_cast<std::size_t>(k)];
    kept = std::move(g);
    // The identity needs no room in a compound kept for the whole run.
    kept.vid = std::vector<int>();
    out.name[static_cast<std::size_t>(k)] = name;
  };
  std::vector<ByteSum> sum(static_cast<std::size_t>(parts));
  std::vector<int> read(static_cast<std::size_t>(parts), 0);
  const auto read_run = [&](std::size_t t) {
    const RecordStart at = start_of(t);
    const std::size_t sum_to =
        t + 1 < static_cast<std::size_t>(parts) ? start_of(t + 1).pos : std::string_view::npos;
    read[t] = read_record_run(request, out, at, end_of(t) - at.index, t == 0 ? 0 : at.pos, sum_to,
                              take, &sum[t]);
  };
  std::vector<std::exception_ptr> failure(static_cast<std::size_t>(parts));
  if (parts == 1) {
    try {
      read_run(0);
    } catch (...) {
      failure[0] = std::current_exception();
    }
  } else {
    failure = run_side_by_side(static_cast<std::size_t>(parts), read_run);
  }
  // Runs that read all they were given, or failed on the input, summed the
  // whole input: a changed file is told before anything read from it. The
  // earliest failure is the one reading the runs in order would have met.
  if (std::all_of(failure.begin(), failure.end(),
                  [](const std::exception_ptr& f) { return f == nullptr || input_failure(f); })) {
    ByteSum all;
    for (const ByteSum& s : sum) all = all + s;
    check_input_unchanged(out, all);
  }
  for (const std::exception_ptr& f : failure)
    if (f != nullptr) std::rethrow_exception(f);
  // The same bytes frame the same records.
  for (std::size_t t = 0; t < static_cast<std::size_t>(parts); ++t)
    SARVIK_ASSERT(read[t] == end_of(t) - start_of(t).index, "load");
}

void read_compounds(const LoadRequest& request, Loaded& out) {
  read_labels(request, out);
  read_graphs(request, out);
}

int read_record_run(const LoadRequest& request, const Loaded& in, const RecordStart& at, int count,
                    std::size_t sum_from, std::size_t sum_to, const GraphSink& take, ByteSum* sum) {
  const ReadContext cx = input_context(request, in);
  RecordRun run;
  run.first = at.index;
  run.count = count;
  run.at = at;
  run.sum_from = sum_from;
  run.sum_to = sum_to;
  return filling_pass(in.input.format, in.input, cx, take, run, sum);
}

ByteSum sum_input_from(const LoadRequest& request, const Loaded& in, std::size_t from) {
  LineReader r;
  line_reader_open(r, in.input, from, 0, from, std::string_view::npos, request.window);
  return line_reader_finish(r);
}

void check_input_unchanged(const Loaded& in, const ByteSum& sum) {
  check_unchanged("the input file", in.input.path, in.sum, sum);
}

}  // namespace sarvik
