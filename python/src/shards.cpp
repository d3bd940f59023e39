// sarvik._core's pieces of a run over shards (include/sarvik/shard.h) for
// sarvik.dask: each call does its work in C++ with the GIL released, so that
// a Dask worker's other threads (its heartbeats among them) go on meanwhile.
// Labels cross as bytes: they are compared byte-wise and need not be UTF-8.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sarvik/shard.h"

namespace py = pybind11;

namespace sarvik {

namespace {

Settings settings_of(const py::dict& d) {
  Settings s;
  s.option = py::cast<std::string>(d["option"]);
  s.mint = py::cast<int>(d["mint"]);
  s.maxt = py::cast<int>(d["maxt"]);
  s.freqt = py::cast<int>(d["freqt"]);
  s.NoAtmLabels = py::cast<bool>(d["atom_labels"]) ? 0 : 1;
  s.NoBndLabels = py::cast<bool>(d["bond_labels"]) ? 0 : 1;
  s.threads = 1;
  return s;
}

Source shard_source(const std::string& path, const std::string& format) {
  return Source{path, format == "mol2" ? Format::mol2 : Format::sd, std::nullopt};
}

std::vector<std::string> labels_of(const py::list& labels) {
  std::vector<std::string> out;
  out.reserve(labels.size());
  for (const py::handle l : labels) out.push_back(py::cast<std::string>(py::reinterpret_borrow<py::bytes>(l)));
  return out;
}

[[noreturn]] void refuse_file(const std::string& what, const std::string& path) {
  throw Error(ErrorKind::output, "can't " + what + " the file '" + path + "': " + std::strerror(errno) + "\n");
}

// 12 random hexadecimal digits: two attempts at one task (a worker thought
// lost goes on) write apart.
std::string random_suffix() {
  std::random_device device;
  std::mt19937_64 bits((static_cast<std::uint64_t>(device()) << 32) ^ device());
  char text[16];
  std::snprintf(text, sizeof text, "%012llx",
                static_cast<unsigned long long>(bits() & 0xFFFFFFFFFFFFull));
  return text;
}

// The two output files of a run, for Python: an OutputPair that close()
// gives up (its temporaries removed, the earlier outputs kept) unless
// commit() put it in place.
struct PairHandle {
  std::unique_ptr<OutputPair> pair;

  OutputPair& open() {
    if (!pair) throw Error(ErrorKind::output, "the outputs are closed\n");
    return *pair;
  }
};

}  // namespace

void bind_shards(py::module_& m) {
  m.def(
      "shard_labels",
      [](const std::string& path, const std::string& format, const py::dict& settings) {
        const Settings s = settings_of(settings);
        ShardLabels out;
        {
          py::gil_scoped_release release;
          out = shard_labels(s, shard_source(path, format));
        }
        py::list labels;
        for (const std::string& l : out.atom_labels) labels.append(py::bytes(l));
        return py::make_tuple(labels, out.compounds);
      },
      py::arg("path"), py::arg("format"), py::arg("settings"),
      "The first pass over a shard: (its atom labels as bytes, sorted; its compounds).");

  m.def(
      "shard_fragments",
      [](const std::string& path, const std::string& format, const py::dict& settings,
         const py::list& labels) {
        const Settings s = settings_of(settings);
        const std::vector<std::string> all = labels_of(labels);
        std::string facts;
        {
          py::gil_scoped_release release;
          facts = shard_fragments(s, shard_source(path, format), all);
        }
        return py::bytes(facts);
      },
      py::arg("path"), py::arg("format"), py::arg("settings"), py::arg("labels"),
      "A shard's fragment facts under the collection's labels, as bytes for ShardMerge.add.");

  py::class_<ShardMerge>(m, "ShardMerge",
                         "The merge of the shards' fragment facts and the replay of the run's "
                         "fragment table.")
      .def(py::init([](const py::dict& settings, const std::string& format, const py::list& labels,
                       const std::string& name) {
             return std::make_unique<ShardMerge>(settings_of(settings),
                                                 format == "mol2" ? Format::mol2 : Format::sd,
                                                 labels_of(labels), name);
           }),
           py::arg("settings"), py::arg("format"), py::arg("labels"), py::arg("name"))
      .def(
          "add",
          [](ShardMerge& merge, const py::bytes& facts) {
            const std::string_view view = facts;
            std::string places;
            {
              py::gil_scoped_release release;
              places = merge.add(view);
            }
            return py::bytes(places);
          },
          py::arg("facts"),
          "The next shard's facts, in shard order; returns the places of its fragments, for "
          "shard_ids.")
      .def(
          "shard_ids",
          [](const ShardMerge& merge, const py::bytes& places) {
            const std::string_view view = places;
            std::string ids;
            {
              py::gil_scoped_release release;
              ids = merge.shard_ids(view);
            }
            return py::bytes(ids);
          },
          py::arg("places"), "After finish(): the descriptor ids of a shard's fragments.")
      .def_property_readonly("fragments", &ShardMerge::fragments)
      .def(
          "finish",
          [](ShardMerge& merge) {
            Summary summary;
            Space space;
            {
              py::gil_scoped_release release;
              space = merge.finish(&summary);
            }
            return py::make_tuple(space, summary.fragments, summary.descriptors);
          },
          "(the run's descriptor space, fragment ids, descriptors).");

  m.def(
      "count_shard",
      [](const std::string& path, const std::string& format, const py::dict& settings,
         const std::optional<Space>& space, const py::bytes& ids, const py::list& labels,
         int before, const std::string& part) {
        const Settings s = settings_of(settings);
        ShardPlace place{labels_of(labels), before};
        const std::string_view given = ids;
        Summary summary;
        {
          py::gil_scoped_release release;
          // The part is written whole under a name of this call's own, then
          // renamed: a part under its name is always complete.
          const std::string temporary = part + ".partial" + random_suffix();
          std::FILE* f = std::fopen(temporary.c_str(), "wb");
          if (f == nullptr) refuse_file("create", temporary);
          std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(f, &std::fclose);
          Sinks sinks;
          sinks.descriptors = [&](std::string_view text) {
            if (std::fwrite(text.data(), 1, text.size(), f) != text.size()) refuse_file("write", part);
          };
          try {
            summary = space ? count_shard(s, shard_source(path, format), *space, place, sinks)
                            : count_shard(s, shard_source(path, format), place, given, sinks);
            if (std::fclose(file.release()) != 0) refuse_file("write", part);
            if (std::rename(temporary.c_str(), part.c_str()) != 0) refuse_file("rename", temporary);
          } catch (...) {
            if (file) std::fclose(file.release());
            std::remove(temporary.c_str());
            throw;
          }
        }
        return py::make_tuple(summary.compounds, summary.outside);
      },
      py::arg("path"), py::arg("format"), py::arg("settings"), py::arg("space"), py::arg("ids"),
      py::arg("labels"), py::arg("before"), py::arg("part"),
      "Counts a shard in the space when given, else with the descriptor ids `ids` "
      "(ShardMerge.shard_ids), and writes its part of the descriptor file to `part`: "
      "(compounds, occurrences outside the space).");

  py::class_<PairHandle>(m, "OutputPair",
                         "The two output files of a run, committed as a pair (see the library's "
                         "OutputPair).")
      .def(py::init([](const std::string& fragments, const std::string& descriptors,
                       const std::vector<std::string>& inputs, const std::string& space) {
             auto h = std::make_unique<PairHandle>();
             h->pair = std::make_unique<OutputPair>(fragments, descriptors, inputs, space);
             return h;
           }),
           py::arg("fragments"), py::arg("descriptors"), py::arg("inputs"), py::arg("space") = "")
      .def(
          "write_space",
          [](PairHandle& h, const Space& space) {
            OutputPair& pair = h.open();
            py::gil_scoped_release release;
            space.write([&pair](std::string_view text) { pair.write_fragments(text); });
            pair.fragments_written();
          },
          py::arg("space"), "The fragment file: the space's records.")
      .def(
          "append_descriptors",
          [](PairHandle& h, const std::string& path) {
            OutputPair& pair = h.open();
            py::gil_scoped_release release;
            std::FILE* f = std::fopen(path.c_str(), "rb");
            if (f == nullptr) refuse_file("open", path);
            std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(f, &std::fclose);
            std::vector<char> buf(std::size_t{1} << 20);
            for (;;) {
              const std::size_t n = std::fread(buf.data(), 1, buf.size(), f);
              if (n > 0) pair.write_descriptors(std::string_view(buf.data(), n));
              if (n < buf.size()) break;
            }
            if (std::ferror(f)) refuse_file("read", path);
          },
          py::arg("path"), "Appends the file at `path` to the descriptor file.")
      .def(
          "commit",
          [](PairHandle& h) {
            OutputPair& pair = h.open();
            py::gil_scoped_release release;
            pair.commit();
          },
          "Puts both files in place at once.")
      .def(
          "close", [](PairHandle& h) { h.pair.reset(); },
          "Ends the pair: what commit() did not put in place is removed, and the lock goes.");
}

}  // namespace sarvik
