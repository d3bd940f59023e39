// Run-wide settings and tables, the fatal error routine and the run files' names.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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
  compound_place = CompoundPlace{};
}

CompoundPlace compound_place;

void error(const std::string& str) {
  std::fputs(str.c_str(), stdout);
  if (compound_place.active) {
    std::printf("  in compound %d '%s'", compound_place.position, compound_place.name.c_str());
    if (compound_place.line > 0) std::printf(" at line %lld", compound_place.line);
    std::printf(" of '%s'\n", filestub.c_str());
  }
  std::exit(1);
}

void assert_fail(const char* expr, const char* module, int line) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s:%d: Assertion `%s' failed.\n", module, line, expr);
  std::abort();
}

// SD runs write SD records, Mol2 runs Mol2 molecules; the suffix says which, so
// that readers that go by the extension read them.
std::string rules_file_name() { return outfile + (filetype == 1 ? "_frag.mol2" : "_frag.sdf"); }

std::string output_file_name() { return outfile + ".out"; }

std::string concat_str_for_dict() { return filestub + ".dict"; }

namespace {

// Opens path for writing with a buffer of 1 MiB from buf, so that the many small
// records of a run go out in few large writes. buf lives as long as the process;
// it serves one open file at a time.
FILE* open_for_writing(const std::string& path, std::vector<char>& buf) {
  FILE* fp = std::fopen(path.c_str(), "w");
  if (fp) {
    buf.resize(std::size_t{1} << 20);
    std::setvbuf(fp, buf.data(), _IOFBF, buf.size());
  }
  return fp;
}

std::vector<char> rules_buffer;
std::vector<char> output_buffer;

}  // namespace

FILE* open_rules_file() { return open_for_writing(rules_file_name(), rules_buffer); }

FILE* open_output_file() { return open_for_writing(output_file_name(), output_buffer); }

void remove_intermediate_files() { std::remove(concat_str_for_dict().c_str()); }
