// The SD and Mol2 fragment writers, byte for byte.
#include <cstdio>
#include <string>
#include <vector>

#include "table/table.h"
#include "test_support.h"

namespace {

using test_support::make_graph;

using Writer = void (*)(const Graph&, int, const LabelSet&, FILE*);

std::string written(Writer w, const Graph& g, int id, const LabelSet& labels) {
  const std::string path = test_support::scratch_dir() + "/frag";
  FILE* fp = std::fopen(path.c_str(), "w");
  w(g, id, labels, fp);
  std::fclose(fp);
  return test_support::read_text(path);
}

const std::string kAtom0 = "    0.0000    0.0000    0.0000 ";
const std::string kAtomTail = " 0  0  0  0  0  0  0\n";

struct Writers : ::testing::Test {
  test_support::SettingsGuard guard;
  LabelSet sd;
  LabelSet mol2;
  void SetUp() override {
    sd.vl.buf = {"C", "Cl", "N", "Xyz"};
    sd.el.buf = {"#", "-", "=", "~"};
    mol2.vl.buf = {"C.3", "C.ar", "Cl", "N.am", "O.co2"};
    mol2.el.buf = {"#", "*", "-", "=", "?", "~"};
  }
};

TEST_F(Writers, SdSingleBond) {
  EXPECT_EQ(written(dump_feature_sdf, make_graph({0, 0}, {{0, 1, 1}}), 12, sd),
            "12\n"
            "  QZ                2D\n"
            "\n"
            "  2  1  0  0  0  0  0  0  0  0  0\n" +
                kAtom0 + "C  " + kAtomTail + kAtom0 + "C  " + kAtomTail +
                "  1  2  1  0  0  0  0\n"
                "M  END\n"
                "$$$$\n");
}

TEST_F(Writers, SdLabelsAndBondTypes) {
  // Branched: 0-1 aromatic, 0-2 double, 0-3 triple, written from vertex 0 in
  // adjacency order; then 3-4 single.
  const Graph g = make_graph({1, 3, 2, 0, 0}, {{3, 4, 1}, {0, 2, 2}, {0, 1, 3}, {0, 3, 0}});
  const std::string text = written(dump_feature_sdf, g, 7, sd);
  EXPECT_EQ(text,
            "7\n  QZ                2D\n\n  5  4  0  0  0  0  0  0  0  0  0\n" + kAtom0 + "Cl " +
                kAtomTail + kAtom0 + "Xyz" + kAtomTail + kAtom0 + "N  " + kAtomTail + kAtom0 +
                "C  " + kAtomTail + kAtom0 + "C  " + kAtomTail +
                "  1  2  4  0  0  0  0\n"
                "  1  3  2  0  0  0  0\n"
                "  1  4  3  0  0  0  0\n"
                "  4  5  1  0  0  0  0\n"
                "M  END\n$$$$\n");
}

TEST_F(Writers, Mol2Record) {
  // Branched at atom 1: bonds numbered 1, 2, 3 in the order written.
  const Graph g = make_graph({1, 3, 2, 4}, {{0, 3, 4}, {0, 1, 1}, {0, 2, 5}, {2, 1, 3}});
  EXPECT_EQ(written(dump_feature_mol2, g, 31, mol2),
            "@<TRIPOS>MOLECULE\n"
            "31\n"
            "  4  4  0  0  0\n"
            "SMALL\nQZ FRAGMENT\n\n\n"
            "@<TRIPOS>ATOM\n"
            "\t   1 C\t0.0000\t0.0000\t0.0000 C.ar\t0  UNK\t0.000\n"
            "\t   2 N\t0.0000\t0.0000\t0.0000 N.am\t0  UNK\t0.000\n"
            "\t   3 Cl\t0.0000\t0.0000\t0.0000 Cl\t0  UNK\t0.000\n"
            "\t   4 O\t0.0000\t0.0000\t0.0000 O.co2\t0  UNK\t0.000\n"
            "@<TRIPOS>BOND\n"
            "\t  1\t  1\t  2 am\n"
            "\t  2\t  1\t  3 ar\n"
            "\t  3\t  1\t  4\n"
            "\t  4\t  2\t  3  2\n"
            "\n");
  const Graph h = make_graph({0, 0, 0}, {{0, 1, 2}, {1, 2, 0}});
  const std::string text = written(dump_feature_mol2, h, 1, mol2);
  EXPECT_NE(text.find("\t  1\t  1\t  2  1\n\t  2\t  2\t  3  3\n\n"), std::string::npos) << text;
}

TEST_F(Writers, RefusesWhatCannotBeWritten) {
  Graph g = make_graph({0, 0}, {{0, 1, 1}});
  g.el[1] = 2;  // the two directions of the bond disagree
  EXPECT_FATAL_STDOUT(written(dump_feature_sdf, g, 1, sd), "problem with the graph\n");
  EXPECT_FATAL_STDOUT(written(dump_feature_mol2, g, 1, mol2), "problem with the graph\n");
  LabelSet odd = sd;
  odd.vl.buf = {"", "Abcd"};
  for (int label : {0, 1})
    EXPECT_FATAL_STDOUT(written(dump_feature_sdf, make_graph({label, label}, {{0, 1, 1}}), 5, odd),
                        "can't write fragment 5: atom label '" + odd.vl.buf[label] +
                            "' does not fit the 3-character SD atom symbol field\n");
}

}  // namespace
