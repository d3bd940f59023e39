// Loading SD and Mol2 files: graphs, names, the dictionary, the run tables,
// the edge cases of both formats and every refusal of malformed input.
#include <cstdio>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "input/input.h"
#include "test_support.h"

using test_support::read_text;
using test_support::scratch_dir;
using test_support::write_text;

namespace {

struct Result {
  sarvik::Loaded loaded;
  std::string out;   // what the load said: the count line, then a failure's text
};

struct Flags {
  int no_atm = 0;
  int no_bnd = 0;
};

// Writes text as <scratch>/<file> and loads it. The format follows the
// extension, as on the command line.
Result load_text(const std::string& file, const std::string& text, Flags f = {}) {
  const std::string path = scratch_dir() + "/" + file;
  write_text(path, text);
  const Source source{path, format_of(path), std::nullopt};
  LoadRequest request;
  request.input = &source;
  request.NoAtmLabels = f.no_atm;
  request.NoBndLabels = f.no_bnd;
  Result r;
  request.counted = [&r](int total) { r.out += "total compounds = " + std::to_string(total) + "\n"; };
  try {
    read_compounds(request, r.loaded);
  } catch (const Error& e) {
    r.out += e.what();
  }
  return r;
}

// The line that follows a message about compound `position` named `name` at input
// line `line` (0: none) of <scratch>/<file>, the folder load_text writes to.
std::string at(int position, const std::string& name, long long line, const std::string& file) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string path = std::string(SARVIK_SCRATCH) + "/" + info->test_suite_name() + "." +
                           info->name() + "/" + file;
  return "  in compound " + std::to_string(position) + " '" + name + "'" +
         (line > 0 ? " at line " + std::to_string(line) : "") + " of '" + path + "'\n";
}

// Loading the file must fail with exactly this text after the count line.
#define EXPECT_REFUSED(file, text, flags, expected) \
  EXPECT_EQ(load_text(file, text, flags).out, expected)

std::string fmt(const char* format, int a, int b, int c = 0) {
  char buf[128];
  std::snprintf(buf, sizeof buf, format, a, b, c);
  return buf;
}

// ---- SD builders ----

// A V2000 atom line with the symbol starting at 1-based column col.
std::string sd_atom(const std::string& symbol, int col = 32) {
  std::string line = "    0.0000    0.0000    0.0000    " + std::string(" 0  0  0  0  0  0");
  line.replace(col - 1, symbol.size(), symbol);
  return line + "\n";
}

using Bond = std::tuple<int, int, int>;  // 1-based atoms, bond type

std::string sd_counts(int atoms, int bonds) {
  return fmt("%3d%3d  0  0  0  0  0  0  0  0999 V2000\n", atoms, bonds);
}

std::string sd_record(const std::string& title, const std::vector<std::string>& symbols,
                      const std::vector<Bond>& bonds,
                      const std::string& tail = "M  END\n$$$$\n") {
  std::string r = title + "\n  handmade\n\n" +
                  sd_counts(static_cast<int>(symbols.size()), static_cast<int>(bonds.size()));
  for (const auto& s : symbols) r += sd_atom(s);
  for (const auto& [a, b, t] : bonds) r += fmt("%3d%3d%3d  0  0  0  0\n", a, b, t);
  return r + tail;
}

// A path over n atoms of one symbol, with the first `bonds` bonds.
std::string sd_path(const std::string& title, int n, int bonds) {
  std::vector<Bond> b;
  for (int i = 1; i <= bonds; ++i) b.emplace_back(i, i + 1, 1);
  return sd_record(title, std::vector<std::string>(n, "C"), b);
}

// ---- Mol2 builders ----

using MolBond = std::tuple<int, int, std::string>;

std::string mol2_atoms_and_bonds(const std::vector<std::string>& types,
                                 const std::vector<MolBond>& bonds) {
  std::string r = "@<TRIPOS>ATOM\n";
  int id = 0;
  for (const auto& t : types) {
    ++id;
    r += fmt("%7d A%-3d     0.0000    0.0000    0.0000 ", id, id) + t + "  1  UNL1  0.0000\n";
  }
  if (!bonds.empty()) r += "@<TRIPOS>BOND\n";
  id = 0;
  for (const auto& [a, b, t] : bonds) r += fmt("%6d%6d%6d ", ++id, a, b) + t + "\n";
  return r;
}

std::string mol2_molecule(const std::string& name, const std::vector<std::string>& types,
                          const std::vector<MolBond>& bonds, const std::string& counts = "") {
  const std::string c =
      counts.empty() ? fmt(" %d %d 0 0 0\n", static_cast<int>(types.size()),
                           static_cast<int>(bonds.size()))
                     : counts;
  return "@<TRIPOS>MOLECULE\n" + name + "\n" + c + "SMALL\nGASTEIGER\n****\nhand made\n" +
         mol2_atoms_and_bonds(types, bonds);
}

// g must be the packed graph of these bonds (0-based atoms, label integer);
// its vertex labels are checked when vl is given.
void expect_bonds(const Graph& g, int vs, const test_support::Bonds& bonds,
                  const std::vector<int>& vl = {}) {
  const Graph want = test_support::make_graph(vl.empty() ? std::vector<int>(vs) : vl, bonds);
  ASSERT_EQ(g.vs, vs);
  EXPECT_EQ(g.es, want.es);
  EXPECT_EQ(g.v, want.v);
  EXPECT_EQ(g.e, want.e);
  EXPECT_EQ(g.el, want.el);
  EXPECT_TRUE(g.vid.empty());  // the identity
  if (!vl.empty()) {
    EXPECT_EQ(g.vl, vl);
  }
}


// ================= SD =================

TEST(SdLoad, RecordEndsAndTrailingLines) {
  const std::string a = sd_record("a", {"C", "O"}, {{1, 2, 2}});
  // A last record without "$$$$" whose blocks are complete counts.
  Result r = load_text("x.sdf", a + sd_record("b", {"N"}, {}, ""));
  EXPECT_EQ(r.out, "total compounds = 2\n");
  EXPECT_EQ(r.loaded.name, (std::vector<std::string>{"a", "b"}));
  // ... also with properties after the bond block; "$$$$" without a newline;
  // blank lines after the last record are no record.
  r = load_text("x.sdf", a + sd_record("b", {"N"}, {}, "M  END\n> <p>\n1\n"));
  EXPECT_EQ(r.loaded.G.size(), 2u);
  r = load_text("x.sdf", a + sd_record("b", {"N"}, {}, "M  END\n$$$$"));
  EXPECT_EQ(r.loaded.G.size(), 2u);
  r = load_text("x.sdf", a + "\n\n  \n\n\n\n");
  EXPECT_EQ(r.out, "total compounds = 1\n");
  r = load_text("x.sdf", a + "\n");
  EXPECT_EQ(r.loaded.G.size(), 1u);
  // Long data lines never stop the run, and a "$$$$" with spaces around ends
  // the record.
  const std::string data(700000, 'd');
  r = load_text("x.sdf", sd_record("long", {"C"}, {}, "M  END\n> <d>\n" + data + "\n  $$$$  \n") + a);
  EXPECT_EQ(r.loaded.name, (std::vector<std::string>{"long", "a"}));
  // An empty file has no compounds; the label set holds the edge labels only.
  r = load_text("x.sdf", "");
  EXPECT_EQ(r.out, "total compounds = 0\n");
  EXPECT_TRUE(r.loaded.G.empty() && r.loaded.name.empty() && r.loaded.ls.vl.buf.empty());
  EXPECT_EQ(r.loaded.ls.el.buf.size(), 4u);
}

TEST(SdRefusals, MalformedRecordsEndTheRunWithAMessage) {
  const std::string ok = sd_record("ok", {"C", "O"}, {{1, 2, 1}});
  const std::string two = "total compounds = 2\n", one = "total compounds = 1\n";
  const std::string sdf = "read sdf file : ";
  // Each message names the compound and the line to blame (the record "ok" takes
  // lines 1 to 9).
  const auto r = [&](int position, const std::string& name, long long line) {
    return at(position, name, line, "r.sdf");
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {ok + "v3\n  x\n\n  0  0  0     0  0            999 V3000\nM  END\n$$$$\n",
       sdf + "compound v3 is a V3000 record; only V2000 records are read\n" + r(2, "v3", 13)},
      {ok + sd_record("zero", {"C", "C"}, {{0, 2, 1}}),
       two + sdf + "atom number '  0' in bond line 1 is not a number from 1 to 2 of compound zero\n" +
           r(2, "zero", 16)},
      {ok + "\n\n\n" + sd_counts(2, 2) + sd_atom("C") + sd_atom("C") + "  1  2  1\n     1  1\n$$$$\n",
       two + sdf + "atom number '   ' in bond line 2 is not a number from 1 to 2 of compound 2\n" +
           r(2, "2", 17)},
      // A sign is no part of an atom number: "  2 -3" is no bond 2-3.
      {ok + "s\n\n\n" + sd_counts(3, 1) + sd_atom("C") + sd_atom("C") + sd_atom("C") + "  2 -3  1\n$$$$\n",
       two + sdf + "atom number ' -3' in bond line 1 is not a number from 1 to 3 of compound s\n" +
           r(2, "s", 17)},
      // Counts that are not numbers, and "$$$$" where a record should begin.
      {ok + "x\n\n\n  a  0\n$$$$\n",
       sdf + "atom count '  a' in the counts line is not a number of compound x\n" + r(2, "x", 13)},
      {ok + "x\n\n\n  1\n" + sd_atom("C") + "$$$$\n",
       sdf + "bond count '' in the counts line is not a number of compound x\n" + r(2, "x", 13)},
      {"$$$$\n$$$$\n" + ok, sdf + "record ends before its counts line of compound $$$$\n" + r(1, "$$$$", 1)},
      {ok + "cut\n\n$$$$\n" + ok,
       sdf + "record ends before its counts line of compound cut\n" + r(2, "cut", 12)},
      {"@<TRIPOS>MOLECULE\neth\n 3 2 0 0 0\nSMALL\n",
       sdf + "atom count 'SMA' in the counts line is not a number (this looks like a Mol2 file: "
             "Mol2 input must be named .mol2) of compound @<TRIPOS>MOLECULE\n" +
           r(1, "@<TRIPOS>MOLECULE", 4)},
      {ok + sd_record("blank", {"C", "   "}, {}),
       sdf + "no atom symbol in atom line 2 of compound blank\n" + r(2, "blank", 15)},
      {ok + "cut\n\n", sdf + "file ends before the counts line of compound cut\n" + r(2, "cut", 11)},
      {ok + "\n\n\n" + sd_counts(3, 0) + sd_atom("C"),
       sdf + "file ends inside the atom block of compound 2\n" + r(2, "2", 14)},
      {ok + "cut\n\n\n" + sd_counts(1, 2) + sd_atom("C") + "  1  2  1\n",
       sdf + "file ends inside the bond block of compound cut\n" + r(2, "cut", 15)},
      // Counts larger than the blocks would read on into the next record.
      {"more\n\n\n" + sd_counts(3, 0) + sd_atom("C") + sd_atom("C") + "$$$$\n" + ok,
       sdf + "atom count larger than the atom lines of compound more\n" + r(1, "more", 7)},
      {"more\n\n\n" + sd_counts(1, 0) + "M  END\n$$$$\n" + ok,
       sdf + "atom count larger than the atom lines of compound more\n" + r(1, "more", 5)},
      {"more\n\n\n" + sd_counts(2, 2) + sd_atom("C") + sd_atom("C") + "  1  2  1\nM  END\n$$$$\n" + ok,
       sdf + "atom or bond count larger than the record's lines of compound more\n" +
           r(1, "more", 8)},
      {ok + sd_path("huge", 600, 500),
       two + "Graph huge is too large : Max vertices or edges allowed in a compound is 999\n" +
           r(2, "huge", 13)},
      // Faults the reader shares with the other modules keep their messages.
      {ok + sd_record("far", {"C", "C"}, {{1, 3, 1}}),
       two + "graph lookup vid : can't find a vid in a graph 2\n" + r(2, "far", 16)},
      {sd_record("twice", {"C", "C"}, {{1, 2, 1}, {2, 1, 2}}),
       one + "duplicated edges 0 0, 1 1\n" + r(1, "twice", 0)},
      {sd_record("self", {"C", "C", "C"}, {{3, 3, 1}}),
       one + "duplicated edges 2 2, 2 2\n" + r(1, "self", 0)},
      // Bytes that cannot be printed are shown escaped, and a control byte is
      // no part of an atom symbol; a long name is quoted in part.
      {"nul\n\n\n" + sd_counts(2, 1) + sd_atom("C") +
           sd_atom("C") + std::string("  1 \0 2  1\n$$$$\n", 16),
       one + sdf + "atom number ' \\x00 ' in bond line 1 is not a number from 1 to 2 of compound nul\n" +
           r(1, "nul", 7)},
      {ok + sd_record("ff", {"C", "C\f"}, {{1, 2, 1}}),
       sdf + "atom symbol 'C\\x0c ' in atom line 2 holds a control character of compound ff\n" +
           r(2, "ff", 15)},
      {ok + sd_record(std::string(300, 'n'), {"C"}, {{1, 2, 1}}),
       two + "graph lookup vid : can't find a vid in a graph 1\n" +
           r(2, std::string(200, 'n') + "...", 15)},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(expected);
    EXPECT_REFUSED("r.sdf", text, Flags{}, expected);
  }
  // No SD file at all: lines ended by carriage returns only, SMILES (a table's
  // header line too).
  const std::string path = scratch_dir() + "/r.sdf";
  std::string cr_only = ok;
  for (char& c : cr_only)
    if (c == '\n') c = '\r';
  EXPECT_REFUSED("r.sdf", cr_only, Flags{},
                 sdf + "no record found in '" + path +
                     "' (its lines end in carriage returns only, which do not end a line here)\n");
  const std::string smiles =
      "' looks like SMILES (a SMILES and a name per line), which the command line does not "
      "read: it reads SD and Mol2 files. Convert it first, for example with Open Babel (obabel "
      "-ismi '" + path + "' -O converted.sdf), or give the SMILES to the Python package "
      "(sarvik.FragmentDescriptors)\n";
  EXPECT_REFUSED("r.sdf", "CCO ethanol\nc1ccc(Cl)cc1 chlorobenzene\n[Na+].[Cl-] salt\n", Flags{},
                 sdf + "'" + path + smiles);
  EXPECT_REFUSED("r.sdf", "smiles,name\nCC(=O)O,acetic acid\n", Flags{}, sdf + "'" + path + smiles);
}

// ================= Mol2 =================

TEST(Mol2Refusals, MalformedMoleculesEndTheRunWithAMessage) {
  const std::string ok = mol2_molecule("ok", {"C.3", "O.3"}, {{1, 2, "1"}});
  const std::string odd = ok + mol2_molecule("odd", {"C.3", "O.3"}, {{1, 2, "x9"}});
  const std::string mol2 = "read mol2 file : ";
  std::vector<std::string> types(1000, "C.3");
  std::vector<MolBond> bonds;
  for (int i = 1; i <= 500; ++i) bonds.emplace_back(i, i + 1, "1");
  const std::vector<MolBond> bonds499(bonds.begin(), bonds.end() - 1);
  const std::vector<std::string> types999(types.begin(), types.end() - 1);
  const std::string too_large = " is too large : Max vertices or edges allowed in a compound is 999\n";
  // Each message names the compound and the line to blame (the molecule "ok"
  // takes lines 1 to 12).
  const auto r = [&](int position, const std::string& name, long long line) {
    return at(position, name, line, "r.mol2");
  };
  const std::string one = "total compounds = 1\n";
  const std::vector<std::tuple<std::string, Flags, std::string>> cases = {
      {ok + "@<TRIPOS>MOLECULE\nnoatom\n 1 0\nSMALL\n@<TRIPOS>BOND\n", {},
       mol2 + "no @<TRIPOS>ATOM line after the counts line in molecule noatom\n" + r(2, "noatom", 17)},
      {ok + "@<TRIPOS>MOLECULE\ncut\n 1 0\nSMALL\n", {},
       mol2 + "no @<TRIPOS>ATOM line after the counts line in molecule cut\n" + r(2, "cut", 16)},
      {ok + "@<TRIPOS>MOLECULE\ncut\n", {},
       mol2 + "file ends before the counts line in molecule cut\n" + r(2, "cut", 14)},
      {mol2_molecule("ff", {"C.3\fX", "O.3"}, {{1, 2, "1"}}), {},
       mol2 + "atom type 'C.3\\x0cX' in atom line 1 holds a control character in molecule ff\n" +
           r(1, "ff", 9)},
      {ok + mol2_molecule("count", {"C.3", "O.3"}, {{1, 2, "1"}}, " 2 2 0\n"), {},
       mol2 + "1 bond lines for a bond count of 2 in molecule count\n" + r(2, "count", 15)},
      {mol2_molecule("atoms", {"C.3", "O.3"}, {{1, 2, "1"}}, " 3 1 0\n"), {},
       mol2 + "2 atom lines for an atom count of 3 in molecule atoms\n" + r(1, "atoms", 3)},
      {mol2_molecule("atoms", {"C.3", "O.3"}, {}, "   1\n"), {},
       mol2 + "2 atom lines for an atom count of 1 in molecule atoms\n" + r(1, "atoms", 3)},
      {ok + "@<TRIPOS>MOLECULE\nshort\n 1 0\nSMALL\n@<TRIPOS>ATOM\n1 C 0 0 C.3\n", {},
       mol2 + "fewer than 6 fields in atom line 1 in molecule short\n" + r(2, "short", 18)},
      {mol2_molecule("short", {"C.3", "O.3"}, {{1, 2, "1"}}) + "2 1 2\n", {},
       mol2 + "fewer than 4 fields in bond line 2 in molecule short\n" + r(1, "short", 13)},
      {mol2_molecule("*", {".3", "O.3"}, {}), {1, 0},
       mol2 + "no atom type in atom line 1 in molecule 1\n" + r(1, "1", 9)},
      {odd, {}, "total compounds = 2\n" + mol2 + "edge label not valid x9 in molecule odd\n" + r(2, "odd", 24)},
      {mol2_molecule("zero", {"C.3", "O.3"}, {{0, 2, "1"}}), {},
       one + mol2 + "atom number '0' in bond line 1 is not a number from 1 to 2 in molecule zero\n" +
           r(1, "zero", 12)},
      {mol2_molecule("sign", {"C.3", "O.3"}, {{1, -2, "1"}}), {},
       one + mol2 + "atom number '-2' in bond line 1 is not a number from 1 to 2 in molecule sign\n" +
           r(1, "sign", 12)},
      {mol2_molecule("far", {"C.3", "O.3"}, {{1, 3, "1"}}), {},
       one + "graph lookup vid : can't find a vid in a graph 2\n" + r(1, "far", 12)},
      // 500 bonds, counted on the counts line or not, and 1000 atoms.
      {mol2_molecule("b", types999, bonds, "   999\n"), {}, one + "Graph b" + too_large + r(1, "b", 3)},
      {mol2_molecule("b", types999, bonds), {}, one + "Graph b" + too_large + r(1, "b", 3)},
      {mol2_molecule("a", types, {}), {}, one + "Graph a" + too_large + r(1, "a", 3)},
  };
  for (const auto& [text, flags, expected] : cases) {
    SCOPED_TRACE(expected);
    EXPECT_REFUSED("r.mol2", text, flags, expected);
  }
  // A file with content but no molecule is no Mol2 file.
  const std::string path = scratch_dir() + "/r.mol2";
  const std::string none = mol2 + "no molecule found in '" + path +
                           "': no line begins with @<TRIPOS>MOLECULE";
  std::string cr_only = ok;
  for (char& c : cr_only)
    if (c == '\n') c = '\r';
  const std::vector<std::pair<std::string, std::string>> not_mol2 = {
      {"plain text\n", none + "\n"},
      {"CCO ethanol\n", mol2 + "'" + path +
                            "' looks like SMILES (a SMILES and a name per line), which the command "
                            "line does not read: it reads SD and Mol2 files. Convert it first, for "
                            "example with Open Babel (obabel -ismi '" + path +
                            "' -O converted.sdf), or give the SMILES to the Python package "
                            "(sarvik.FragmentDescriptors)\n"},
      {cr_only, none + " (its lines end in carriage returns only, which do not end a line here)\n"},
      {"x\n\n\n  0  0  0  0  0  0  0  0  0  0999 V2000\nM  END\n$$$$\n",
       none + " (this looks like an SD file: only names ending in .mol2 are read as Mol2)\n"},
  };
  for (const auto& [text, expected] : not_mol2) {
    SCOPED_TRACE(expected);
    EXPECT_REFUSED("r.mol2", text, Flags{}, expected);
  }
  // Under -NoBndLabels an unknown bond type is read as "-"; 999 atoms and 499
  // bonds fit.
  Result loaded = load_text("r.mol2", odd, {0, 1});
  expect_bonds(loaded.loaded.G[1], 2, {{0, 1, 2}});
  loaded = load_text("r.mol2", mol2_molecule("fits", types999, bonds499));
  EXPECT_EQ(loaded.loaded.G[0].es, 998);
}

}  // namespace

// ================= windows and parts =================

// A file is read in windows, in parts side by side on several threads, each
// noting every stride-th record's start: whatever the window (lines, carriage
// returns and records cut anywhere), the threads and the stride, the compounds,
// names, labels and the sum of the bytes are those of one window over the
// whole file, on one thread.
TEST(ReadInWindows, AnyWindowThreadsAndStrideReadTheSameCompounds) {
  const std::string dir = scratch_dir();
  const std::string sdf = read_text(test_support::data_path("cdk2.sdf"));
  std::string crlf;
  for (const char c : sdf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  write_text(dir + "/crlf.sdf", crlf);
  for (const std::string& path : {test_support::data_path("cdk2.sdf"),
                                 test_support::data_path("cdk2.mol2"), dir + "/crlf.sdf"}) {
    const Source source{path, format_of(path), std::nullopt};
    const auto load = [&](std::size_t window, int threads, int stride) {
      LoadRequest request;
      request.input = &source;
      request.window = window;
      request.threads = threads;
      request.stride = stride;
      Loaded loaded;
      read_compounds(request, loaded);
      return loaded;
    };
    const Loaded whole = load(std::size_t{1} << 24, 1, 1);
    ASSERT_EQ(whole.total, 47);
    for (const std::size_t window : {1, 3, 64, 4093})
      for (const int threads : {1, 3})
        for (const int stride : {1, 5}) {
          SCOPED_TRACE(path + ": window " + std::to_string(window) + ", " +
                       std::to_string(threads) + " threads, stride " + std::to_string(stride));
          const Loaded got = load(window, threads, stride);
          EXPECT_EQ(got.name, whole.name);
          EXPECT_EQ(got.ls.vl.buf, whole.ls.vl.buf);
          EXPECT_EQ(got.atom_labels, whole.atom_labels);
          EXPECT_TRUE(got.sum == whole.sum);
          ASSERT_EQ(got.G.size(), whole.G.size());
          for (std::size_t i = 0; i < got.G.size(); ++i)
            EXPECT_TRUE(test_support::fields_of(got.G[i]) == test_support::fields_of(whole.G[i]))
                << i;
          // Every stride-th record's start, the first one's at least.
          ASSERT_FALSE(got.starts.empty());
          EXPECT_EQ(got.starts[0].index, 0);
          for (std::size_t k = 1; k < got.starts.size(); ++k)
            EXPECT_LE(got.starts[k].index - got.starts[k - 1].index, stride);
        }
  }
}
