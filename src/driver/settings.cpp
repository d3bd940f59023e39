// Run-wide settings and tables, the fatal error routine and the run files' names.
#include <cstdio>
#include <cstdlib>

#include "driver/generate_all_trees_freq.h"

std::string option = "QZ";
int opt = 1;
int mint = 1;
int maxt = 7;
int freqt = 1;
int NoAtmLabels = 0;
int NoBndLabels = 0;
int filetype = 0;
std::string filestub;
std::string outfile;
int threshold = 0;

std::vector<int> map;
std::vector<std::string> hashdict;
std::vector<std::string> name;
std::vector<std::vector<CSR>> csr;
std::vector<CSRcount> csrcount;
LabelSet ls;

void reset_run_settings() {
  option = "QZ";
  opt = 1;
  mint = 1;
  maxt = 7;
  freqt = 1;
  NoAtmLabels = 0;
  NoBndLabels = 0;
  filetype = 0;
  filestub.clear();
  outfile.clear();
  threshold = 0;
  map.clear();
  hashdict.clear();
  name.clear();
  csr.clear();
  csrcount.clear();
  ls = LabelSet{};
}

void error(const std::string& str) {
  std::fputs(str.c_str(), stdout);
  std::exit(1);
}

void assert_fail(const char* expr, const char* module, int line) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s:%d: Assertion `%s' failed.\n", module, line, expr);
  std::abort();
}

std::string rules_file_name() { return outfile + "_frag.sdf"; }

std::string output_file_name() { return outfile + ".out"; }

std::string concat_str_for_dict() { return filestub + ".dict"; }

FILE* open_rules_file() { return std::fopen(rules_file_name().c_str(), "w"); }

FILE* open_output_file() { return std::fopen(output_file_name().c_str(), "w"); }

void remove_intermediate_files() { std::remove(concat_str_for_dict().c_str()); }
