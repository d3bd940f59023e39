// The loading entry: reads the input once into memory, runs the reader's two
// passes chosen by filetype over those bytes, loads the label set in between
// and creates the per-compound run tables.
#include <cstdio>

#include "input/input_detail.h"

std::vector<Graph> read_compounds() {
  std::vector<Graph> graphs;
  {
    // One snapshot: every pass sees the same bytes, whatever happens to the
    // file meanwhile. It is released before the occurrence lists are made.
    const std::string input = read_whole_file(filestub);
    if (input.size() >= 2 && static_cast<unsigned char>(input[0]) == 0x1f &&
        static_cast<unsigned char>(input[1]) == 0x8b)
      error("the input file '" + filestub +
            "' is compressed (gzip); compressed input is not read: unpack it first, for "
            "example with gunzip -c '" + filestub + "' > unpacked" +
            (filetype == 0 ? ".sdf" : ".mol2") + "\n");
    std::string dict;
    const int total = filetype == 0 ? calculate_total_comps(input, dict)
                                    : calculate_total_comps_mol2(input, dict);
    graphs.resize(total);
    name.assign(total, std::string());
    ls = graph_load_labelset(dict);
    const int num = filetype == 0 ? read_sdf_file(input, graphs) : read_mol2_file(input, graphs);
    SARVIK_ASSERT(num == total, "load");
  }
  const std::size_t total = graphs.size();
  csrcount.assign(total, CSRcount{0, CSR_LEN, 0});
  csr.assign(total, std::vector<CSR>());
  for (std::vector<CSR>& list : csr) list.reserve(CSR_LEN);
  return graphs;
}
