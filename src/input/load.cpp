// The loading entry: runs the reader's three passes chosen by filetype, loads
// the label set in between and creates the per-compound run tables.
#include <cstdio>

#include "input/input_detail.h"

std::vector<Graph> read_compounds() {
  // The filling pass reads this handle; opening it first means a missing input
  // ends the run before the dictionary file is touched.
  FILE* fp = xfopen(filestub, "r");
  const std::string dictfilename = concat_str_for_dict();
  int total = 0;
  std::vector<Graph> graphs;
  if (filetype == 0) {
    total = calculate_total_comps();
    graphs = init_graph_all(total);
  } else {
    total = calculate_total_comps_mol2();
    graphs = init_graph_all_mol2(total);
  }
  name.assign(total, std::string());
  csrcount.assign(total, CSRcount{0, CSR_LEN, 0});
  csr.assign(total, std::vector<CSR>());
  for (std::vector<CSR>& list : csr) list.reserve(CSR_LEN);
  ls = graph_load_labelset(dictfilename);
  const int num = filetype == 0 ? read_sdf_file(fp, graphs) : read_mol2_file(fp, graphs);
  graphs.resize(num);
  return graphs;
}
