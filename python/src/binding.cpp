// sarvik._core: the library's public interface (include/sarvik/sarvik.h) for
// the Python package. Every call that runs the library does so on a thread of
// its own with the GIL released, while the calling thread wakes a few times a
// second to check for signals (Ctrl-C sets the run's cancel flag, and the
// KeyboardInterrupt is raised once the run has stopped) and to report
// progress. Results are filled into arrays in C++: no Python object per
// (descriptor, count) pair.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/eval.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "sarvik/sarvik.h"

namespace py = pybind11;

namespace sarvik {

namespace {

// How often the waiting thread looks for signals and shows progress.
constexpr std::chrono::milliseconds kPoll{50};

// How far a run has come, written by the run's thread, read by the waiting one.
struct Tick {
  std::atomic<int> length{0};
  std::atomic<int> done{0};
  std::atomic<int> total{0};
};

// Runs `work` on a thread of its own with the GIL released. Meanwhile this
// thread calls `tick(length, done, total)` (unless None; once more when the
// work is done) and checks for signals every kPoll, holding the GIL; an exception from either (a
// KeyboardInterrupt) sets `cancel` and is raised once the work has stopped,
// in place of whatever the work ended with. Otherwise the work's exception
// is rethrown as it is.
void run_released(const std::function<void()>& work, std::atomic<bool>& cancel, const Tick& state,
                  const py::object& tick) {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::exception_ptr failure;
  std::optional<py::error_already_set> raised;
  {
    py::gil_scoped_release release;
    std::thread worker;
    try {
      worker = std::thread([&] {
        try {
          work();
        } catch (...) {
          failure = std::current_exception();
        }
        {
          std::lock_guard<std::mutex> lk(m);
          done = true;
        }
        cv.notify_one();
      });
    } catch (const std::system_error&) {
      throw std::bad_alloc();
    }
    for (;;) {
      {
        std::unique_lock<std::mutex> lk(m);
        if (cv.wait_for(lk, kPoll, [&done] { return done; })) break;
      }
      if (raised) continue;
      py::gil_scoped_acquire gil;
      try {
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (!tick.is_none()) tick(state.length.load(), state.done.load(), state.total.load());
      } catch (py::error_already_set& e) {
        raised.emplace(std::move(e));
        cancel.store(true);
      }
    }
    worker.join();
  }
  if (raised) throw std::move(*raised);
  if (failure) std::rethrow_exception(failure);
  // Where the work ended, however soon.
  if (!tick.is_none()) tick(state.length.load(), state.done.load(), state.total.load());
}

// A Python list of bytes-like input, or a path: the collection a run reads.
// Bytes stay with the Python object, which the caller keeps alive.
Source source_of(const py::object& input, const std::string& format, const std::string& name) {
  Source s;
  s.format = format == "mol2" ? Format::mol2 : Format::sd;
  if (py::isinstance<py::bytes>(input)) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(input.ptr(), &data, &size) != 0) throw py::error_already_set();
    s.bytes = std::string_view(data, static_cast<std::size_t>(size));
    s.path = name;
  } else {
    s.path = py::cast<std::string>(input);
  }
  return s;
}

// A vector handed to numpy without a copy: the array owns it.
template <class T>
py::array_t<T> to_array(std::vector<T>&& v) {
  auto* owned = new std::vector<T>(std::move(v));
  py::capsule owner(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return py::array_t<T>(static_cast<py::ssize_t>(owned->size()), owned->data(), owner);
}

// Values appended in blocks of fixed size, so that growing never copies what
// is held; made one vector at the end, each block released once copied (the
// vector is reserved whole, but its pages are touched only as it fills).
template <class T>
struct Blocks {
  static constexpr std::size_t kBlock = std::size_t{1} << 16;
  std::vector<std::vector<T>> blocks;
  std::size_t size = 0;

  void push(T x) {
    if (blocks.empty() || blocks.back().size() == kBlock) {
      blocks.emplace_back();
      blocks.back().reserve(kBlock);
    }
    blocks.back().push_back(x);
    ++size;
  }
  template <class U>
  std::vector<U> take() {
    std::vector<U> out;
    out.reserve(size);
    for (std::vector<T>& b : blocks) {
      out.insert(out.end(), b.begin(), b.end());
      std::vector<T>().swap(b);
    }
    blocks.clear();
    size = 0;
    return out;
  }
};

// A compressed sparse row matrix, one row per compound, as numpy arrays.
struct Rows {
  std::vector<std::int64_t> indptr{0};
  Blocks<std::int32_t> indices;  // column: descriptor id - 1
  Blocks<std::int64_t> data;
  std::vector<std::pair<int, std::uint64_t>> row;  // one compound's pairs, sorted

  void add(std::span<const DescriptorCount> pairs) {
    row.clear();
    for (const DescriptorCount& p : pairs) row.emplace_back(p.id - 1, p.count);
    std::sort(row.begin(), row.end());
    for (const auto& [column, count] : row) {
      indices.push(column);
      data.push(static_cast<std::int64_t>(count));
    }
    indptr.push_back(static_cast<std::int64_t>(indices.size));
  }

  // (indptr, indices, data), indices and indptr of one type as scipy wants it.
  py::tuple arrays() {
    py::array_t<std::int64_t> values = to_array(data.take<std::int64_t>());
    if (indices.size <= static_cast<std::size_t>(INT32_MAX)) {
      std::vector<std::int32_t> narrow(indptr.begin(), indptr.end());
      std::vector<std::int64_t>().swap(indptr);
      return py::make_tuple(to_array(std::move(narrow)), to_array(indices.take<std::int32_t>()),
                            values);
    }
    return py::make_tuple(to_array(std::move(indptr)), to_array(indices.take<std::int64_t>()),
                          values);
  }
};

// Every occurrence a run reports, flat: per occurrence its compound,
// descriptor, and the ends of its atoms and bonds in `at`.
struct Occurrences {
  std::vector<int> compound, descriptor;
  std::vector<std::size_t> atoms_end, bonds_end;
  std::vector<int> at;

  void add(const Occurrence& o) {
    compound.push_back(o.compound);
    descriptor.push_back(o.descriptor);
    at.insert(at.end(), o.atoms.begin(), o.atoms.end());
    atoms_end.push_back(at.size());
    at.insert(at.end(), o.bonds.begin(), o.bonds.end());
    bonds_end.push_back(at.size());
  }

  // Per compound a dict: column -> list of (atom tuple, bond tuple).
  py::list python(int compounds) const {
    py::list out;
    std::vector<py::dict> per(static_cast<std::size_t>(compounds));
    for (std::size_t k = 0; k < compound.size(); ++k) {
      const std::size_t from = k == 0 ? 0 : bonds_end[k - 1];
      py::tuple atoms(atoms_end[k] - from), bonds(bonds_end[k] - atoms_end[k]);
      for (std::size_t j = from; j < atoms_end[k]; ++j) atoms[j - from] = py::int_(at[j]);
      for (std::size_t j = atoms_end[k]; j < bonds_end[k]; ++j)
        bonds[j - atoms_end[k]] = py::int_(at[j]);
      py::dict& d = per[static_cast<std::size_t>(compound[k])];
      const py::int_ column(descriptor[k] - 1);
      if (!d.contains(column)) d[column] = py::list();
      d[column].cast<py::list>().append(py::make_tuple(atoms, bonds));
    }
    for (py::dict& d : per) out.append(std::move(d));
    return out;
  }
};

// The bond of a fragment's readable form, by its type as written.
std::string_view bond_symbol(std::string_view type) {
  if (type == "1") return "-";
  if (type == "2") return "=";
  if (type == "3") return "#";
  if (type == "4" || type == "ar") return ":";
  if (type == "am") return "~";
  return "?";
}

// An atom label as the readable form writes it: as it is, or between brackets
// where it holds a character of the form's own syntax.
void append_label(std::string& out, std::string_view label) {
  if (!label.empty() && label.find_first_of("()[]-=#:~?\\ \t") == std::string_view::npos) {
    out += label;
    return;
  }
  out += '[';
  for (const char c : label) {
    if (c == ']' || c == '\\') out += '\\';
    out += c;
  }
  out += ']';
}

// Descriptor d's name: "d:" then a line notation of its tree from its first
// atom, branches in parentheses, every label kept, e.g. "17:C.ar:C.ar(-O.3)-C.3".
std::string readable(const SpaceFragment& f, int d) {
  std::string out = std::to_string(d) + ":";
  const std::size_t n = f.atoms.size();
  if (n == 0) return out;
  std::vector<std::vector<std::pair<int, std::string_view>>> next(n);
  for (const SpaceFragment::Bond& b : f.bonds) {
    next[static_cast<std::size_t>(b.a)].emplace_back(b.b, b.type);
    next[static_cast<std::size_t>(b.b)].emplace_back(b.a, b.type);
  }
  std::vector<char> seen(n, 0);
  // Depth first, without recursion: a frame is an atom and its next neighbour.
  struct Frame {
    int atom;
    std::size_t k;
    bool branch;  // reached in parentheses: close them when done
  };
  std::vector<Frame> stack{{0, 0, false}};
  seen[0] = 1;
  append_label(out, f.atoms[0]);
  while (!stack.empty()) {
    Frame& top = stack.back();
    const auto& around = next[static_cast<std::size_t>(top.atom)];
    std::size_t k = top.k;
    while (k < around.size() && seen[static_cast<std::size_t>(around[k].first)]) ++k;
    if (k == around.size()) {
      if (top.branch) out += ')';
      stack.pop_back();
      continue;
    }
    top.k = k + 1;
    std::size_t later = k + 1;
    while (later < around.size() && seen[static_cast<std::size_t>(around[later].first)]) ++later;
    const bool branch = later < around.size();
    const int to = around[k].first;
    if (branch) out += '(';
    out += bond_symbol(around[k].second);
    seen[static_cast<std::size_t>(to)] = 1;
    append_label(out, f.atoms[static_cast<std::size_t>(to)]);
    stack.push_back(Frame{to, 0, branch});
  }
  return out;
}

std::string format_name(Format f) { return f == Format::mol2 ? "mol2" : "sd"; }

// Translates the library's failures: Error as sarvik.Error (a ValueError),
// with its kind and the compound it names; an output that cannot be written
// as OSError. Running out of memory is pybind11's MemoryError.
void translate(std::exception_ptr p) {
  try {
    if (p) std::rethrow_exception(p);
  } catch (const Error& e) {
    // The command line's text, without its last newline.
    const auto text = [](std::string s) {
      while (!s.empty() && s.back() == '\n') s.pop_back();
      return s;
    };
    if (e.kind() == ErrorKind::output) {
      PyErr_SetString(PyExc_OSError, text(e.what()).c_str());
      return;
    }
    static const char* const kinds[] = {"usage", "input", "output", "table_full", "cancelled"};
    py::object type = py::module_::import("sarvik._core").attr("Error");
    py::object error = type(py::str(text(e.what())));
    error.attr("kind") = kinds[static_cast<int>(e.kind())];
    error.attr("message") = text(e.message());
    const CompoundPlace& place = e.place();
    error.attr("compound") = place.active ? py::object(py::int_(place.position)) : py::none();
    error.attr("line") = place.active && place.line > 0 ? py::object(py::int_(place.line)) : py::none();
    error.attr("file") = place.active ? py::object(py::str(place.file)) : py::none();
    PyErr_SetObject(type.ptr(), error.ptr());
  }
}

// One run, as sarvik.run hands it over to Python: see the module function.
py::dict run_py(const Settings& settings, const py::object& input, const std::string& format,
                const std::string& name, const std::optional<Space>& space, bool matrix,
                bool make_space, bool occurrences, const py::object& tick) {
  const Source source = source_of(input, format, name);
  std::atomic<bool> cancel{false};
  Tick state;
  Rows rows;
  Occurrences occ;
  std::optional<Space> made;
  Summary summary;
  Sinks sinks;
  sinks.cancel = &cancel;
  sinks.progress = [&state](const Progress& p) {
    state.length.store(p.length, std::memory_order_relaxed);
    state.done.store(p.done, std::memory_order_relaxed);
    state.total.store(p.total, std::memory_order_relaxed);
  };
  if (matrix)
    sinks.vectors = [&rows](int, std::string_view, std::span<const DescriptorCount> pairs) {
      rows.add(pairs);
    };
  if (make_space) sinks.space = [&made](Space s) { made = std::move(s); };
  if (occurrences) sinks.occurrences = [&occ](const Occurrence& o) { occ.add(o); };
  run_released(
      [&] { summary = space ? run(settings, source, *space, sinks) : run(settings, source, nullptr, sinks); },
      cancel, state, tick);
  py::dict out;
  out["compounds"] = summary.compounds;
  out["fragments"] = summary.fragments;
  out["descriptors"] = summary.descriptors;
  out["outside"] = summary.outside;
  if (matrix) out["matrix"] = rows.arrays();
  if (made) out["space"] = std::move(*made);
  if (occurrences) out["occurrences"] = occ.python(summary.compounds);
  return out;
}

}  // namespace

// The pieces of a run over shards (python/src/shards.cpp).
void bind_shards(py::module_& m);

}  // namespace sarvik

PYBIND11_MODULE(_core, m) {
  using namespace sarvik;
  m.doc() = "The Sarvik library's interface for the sarvik package (see sarvik.FragmentDescriptors).";
  py::register_exception_translator(&translate);
  py::exec(R"(
class Error(ValueError):
    """A failure of a Sarvik run, with the command line's message.

    str(error) is the command line's text without its last newline. kind:
    "usage", "input", "table_full" or "cancelled"; message: the message without
    the line naming the compound; compound, line, file: the 1-based
    position of the compound it is about, the input line and the input's name
    (None where the failure is about no one compound).
    """
    kind = message = compound = line = file = None
)",
           m.attr("__dict__"));
  m.attr("Error").attr("__module__") = "sarvik";

  m.def("version", &version, "The library's version, as `Sarvik --version` prints it.");

  py::class_<Space>(m, "Space",
                    "A descriptor space held in memory: the descriptor fragments of a fit, as "
                    "canonical forms over their own labels.")
      .def(py::init<>())
      .def("__len__", &Space::size)
      .def_property_readonly("format", [](const Space& s) { return format_name(s.format()); })
      .def_property_readonly("name", &Space::name)
      .def(
          "fragment",
          [](const Space& s, int descriptor) {
            if (descriptor < 1 || descriptor > s.size()) throw py::index_error("no such descriptor");
            const SpaceFragment f = s.fragment(descriptor);
            py::list atoms, bonds;
            for (const std::string_view a : f.atoms) atoms.append(py::str(a.data(), a.size()));
            for (const SpaceFragment::Bond& b : f.bonds)
              bonds.append(py::make_tuple(b.a, b.b, py::str(b.type.data(), b.type.size())));
            return py::make_tuple(f.id, atoms, bonds);
          },
          py::arg("descriptor"),
          "(fragment id, atom labels, bonds (a, b, type as written)) of descriptor `descriptor` "
          "(1-based).")
      .def(
          "names",
          [](const Space& s) {
            std::vector<std::string> names(static_cast<std::size_t>(s.size()));
            {
              py::gil_scoped_release release;
              for (int d = 1; d <= s.size(); ++d)
                names[static_cast<std::size_t>(d) - 1] = readable(s.fragment(d), d);
            }
            return names;
          },
          "One readable, unique name per descriptor: its id, ':', then its tree with every label.")
      .def(
          "save",
          [](const Space& s, const std::string& path, int threads) {
            std::atomic<bool> cancel{false};
            Tick state;
            run_released(
                [&] {
                  // One file through the commit the command line uses: a
                  // temporary, renamed over the final name once complete.
                  OutputPair file("", path, {});
                  s.write([&file](std::string_view text) { file.write_descriptors(text); }, threads,
                          &cancel);
                  file.commit();
                },
                cancel, state, py::none());
          },
          py::arg("path"), py::arg("threads") = 1,
          "Writes the fragment file the space stands for, byte for byte as the command line does.")
      .def("to_bytes", [](const Space& s) { return py::bytes(s.bytes()); })
      .def_static(
          "from_bytes",
          [](const py::bytes& b) {
            const std::string_view view = b;
            return Space::from_bytes(view);
          },
          py::arg("data"))
      .def_static(
          "read",
          [](const py::object& input, const std::string& format, const std::string& name) {
            const Source source = source_of(input, format, name);
            std::atomic<bool> cancel{false};
            Tick state;
            Space space;
            run_released([&] { space = Space::read(source, &cancel); }, cancel, state, py::none());
            return space;
          },
          py::arg("input"), py::arg("format"), py::arg("name") = "",
          "The space of a fragment file: a path, or its bytes.")
      .def(py::pickle([](const Space& s) { return py::bytes(s.bytes()); },
                      [](const py::bytes& b) {
                        const std::string_view view = b;
                        return Space::from_bytes(view);
                      }));

  m.def(
      "run",
      [](const py::object& input, const std::string& format, const std::string& name,
         const std::string& option, int mint, int maxt, int freqt, bool atom_labels,
         bool bond_labels, int threads, const std::optional<Space>& space, bool matrix,
         bool make_space, bool occurrences, const py::object& tick) {
        Settings s;
        s.option = option;
        s.mint = mint;
        s.maxt = maxt;
        s.freqt = freqt;
        s.NoAtmLabels = atom_labels ? 0 : 1;
        s.NoBndLabels = bond_labels ? 0 : 1;
        s.threads = threads;
        return run_py(s, input, format, name, space, matrix, make_space, occurrences, tick);
      },
      py::arg("input"), py::arg("format"), py::arg("name"), py::arg("option"), py::arg("mint"),
      py::arg("maxt"), py::arg("freqt"), py::arg("atom_labels"), py::arg("bond_labels"),
      py::arg("threads"), py::arg("space"), py::arg("matrix"), py::arg("make_space"),
      py::arg("occurrences"), py::arg("tick"),
      "One run over a path or bytes, in `space` when given. A dict: compounds, fragments, "
      "descriptors, outside; matrix (indptr, indices, data) when asked; space (a Space) when "
      "asked; occurrences (per compound {column: [(atoms, bonds), ...]}) when asked.");

  bind_shards(m);
}
