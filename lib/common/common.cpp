// Run-wide settings and tables, the fatal error routine and the run files' names.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "common/common.h"

std::string option = "QZ";
int opt = kFragmentsAll;
int mint = 1;
int maxt = 7;
int freqt = 1;
int NoAtmLabels = 0;
int NoBndLabels = 0;
int filetype = kInputSd;
std::string filestub;
std::string outfile;
int threshold = 0;
std::string dspace_file;
int threads = 1;

std::vector<int> map;
std::vector<std::string> hashdict;
std::vector<std::string> name;
std::vector<std::vector<CSR>> csr;
std::vector<CSRcount> csrcount;
LabelSet ls;
std::unordered_map<std::uint64_t, std::uint64_t> csr_carry;

std::uint64_t csr_occurrences(int compid, int entry) {
  const std::uint64_t low = csr[compid][entry].freq;
  if (csr_carry.empty()) return low;
  const auto it =
      csr_carry.find(static_cast<std::uint64_t>(compid) << 32 | static_cast<std::uint32_t>(entry));
  return it == csr_carry.end() ? low : it->second << 32 | low;
}

void reset_run_settings() {
  option = "QZ";
  opt = kFragmentsAll;
  mint = 1;
  maxt = 7;
  freqt = 1;
  NoAtmLabels = 0;
  NoBndLabels = 0;
  filetype = kInputSd;
  filestub.clear();
  outfile.clear();
  threshold = 0;
  dspace_file.clear();
  threads = 1;
  map.clear();
  hashdict.clear();
  name.clear();
  csr.clear();
  csrcount.clear();
  csr_carry.clear();
  ls = LabelSet{};
  compound_place() = CompoundPlace{};
}

namespace {
CompoundPlace run_place;
thread_local CompoundPlace* own_place = nullptr;
}  // namespace

CompoundPlace& compound_place() { return own_place != nullptr ? *own_place : run_place; }
OwnCompoundPlace::OwnCompoundPlace() { own_place = &place; }
OwnCompoundPlace::~OwnCompoundPlace() { own_place = nullptr; }

thread_local bool fatal_errors_deferred = false;
void (*stop_other_threads)() = nullptr;

void error(const std::string& str) {
  if (fatal_errors_deferred) throw DeferredFatalError{str};
  // No other thread may still run while the process ends.
  if (stop_other_threads != nullptr) stop_other_threads();
  std::fputs(str.c_str(), stdout);
  const CompoundPlace& place = compound_place();
  if (place.active) {
    std::printf("  in compound %d '%s'", place.position, place.name.c_str());
    if (place.line > 0) std::printf(" at line %lld", place.line);
    std::printf(" of '%s'\n", filestub.c_str());
  }
#ifdef SARVIK_FUZZ
  // The fuzzing harness runs many inputs in one process: it catches the end of
  // the run instead.
  throw FatalError{};
#else
  std::exit(1);
#endif
}

void ThreadFailure::end_run() const {
  if (out_of_memory) {
    if (fatal_errors_deferred) throw std::bad_alloc();
    std::get_new_handler()();
  }
  compound_place() = place;
  error(message);
}

void thread_start_failed(const char* what) {
  error(std::string("can't start a thread: ") + what + "\n");
}

void assert_fail(const char* expr, const char* module, int line) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s:%d: Assertion `%s' failed.\n", module, line, expr);
  std::abort();
}

// SD runs write SD records, Mol2 runs Mol2 molecules; the suffix says which, so
// that readers that go by the extension read them.
std::string rules_file_name() { return outfile + (filetype == kInputMol2 ? "_frag.mol2" : "_frag.sdf"); }

std::string output_file_name() { return outfile + ".out"; }

