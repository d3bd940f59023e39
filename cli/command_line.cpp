// The command line: options, usage text, output stem and input format.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "run/run_detail.h"
#include "common/common.h"
#include "input/input.h"

namespace {

constexpr int kUsageStatus = 2;

#ifdef _WIN32
constexpr const char* kPathSeparators = "/\\";
#else
constexpr const char* kPathSeparators = "/";
#endif

[[noreturn]] void usage_exit(const char* message) {
  if (message) std::fputs(message, stdout);
  print_help();
  std::exit(kUsageStatus);
}

bool ends_in_mol2(const std::string& component) {
  const std::size_t dot = component.rfind('.');
  std::string ext = component.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == "mol2";
}

}  // namespace

int get_argument(const char* str) {
  static const char* const kOptions[] = {"-ds",          "-lmin",        "-lmax",
                                         "-fmin",        "-ofile",       "-help",
                                         "-NoAtmLabels", "-NoBndLabels", "-dspace",
                                         "-threads"};
  static_assert(sizeof kOptions / sizeof kOptions[0] == kOptThreads);
  for (int i = 0; i < kOptThreads; ++i)
    if (std::strcmp(str, kOptions[i]) == 0) return i + 1;
  return kOptUnknown;
}

void print_help() {
  std::fputs("\nUSAGE:\n", stdout);
  std::fputs("Sarvik [options] <input file>\n\n", stdout);
#ifdef _WIN32
  std::fputs(
      "<input file> \n\t Sarvik's only required parameter is a file that stores the \n\t input "
      "compounds. Sarvik supports the sdf and mol2 file \n\t formats that are selected based on "
      "the extension of the input \n\t file. If the file has an \".sdf\" extension, then Sarvik "
      "expects \n\t the compounds to be specified in SDF format; whereas if the \n\t extension is "
      "\".mol2\", Sarvik assumes that the file is in Mol2 format. \n\n",
      stdout);
#else
  std::fputs(
      "<input file> \n\t Sarvik's required parameter is the input file name containing "
      "compounds. \n\t Sarvik supports the sdf and mol2 file formats that are selected \n\t based "
      "on the extension of the input file. If the file has an \".sdf\" \n\t extension, then Sarvik "
      "expects the compounds to be specified in \n\t SDF format; whereas if the extension is "
      "\".mol2\", Sarvik assumes \n\t that the file is in Mol2 format. \n\n",
      stdout);
#endif
  std::fputs("\nOptions\n\n", stdout);
  std::fputs(
      " -ds {QZ,TF,PF} \n\t Specifies the type of fragments to be generated. \n\t The possible "
      "values are:\n\t QZ Acyclic Fragments (default), \n\t TF Tree Fragments (acyclic fragments "
      "consisting of trees only) \n\t PF Path Fragments (PF) (acyclic fragments consisting of "
      "paths only)\n\n",
      stdout);
  std::fputs(
      " -lmin [1...] \n\t Specifies the minimum number of bonds (i.e., length) of the \n\t "
      "generated fragments. The default value is one.\n\n",
      stdout);
  std::fputs(
      " -lmax [1...] \n\t Specifies the maximum number of bonds of the generated fragments. \n\t "
      "If lmax is less than lmin, no fragment length is generated. \n\t The default value is "
      "seven. \n\n",
      stdout);
  std::fputs(
      " -fmin [1...] \n\t Specifies the minimum frequency that a fragment must have before \n\t "
      "it becomes a descriptor. The frequency of a fragment is based on \n\t the number of "
      "distinct compounds that it occurs at. The default \n\t value is one (i.e., all fragments "
      "are treated as descriptors). \n\n",
      stdout);
  std::fputs(
      " -NoAtmLabels \n\t This option forces Sarvik to ignore the fine atom typing specified \n\t "
      "in the input file (if any). If this option is used, then only the \n\t basic atom types "
      "are used (e.g., P, N, O, etc.). This option applies \n\t only to inputs files that use the "
      "Mol2 format, as the SDF format \n\t does not support fine atom typing. By default Sarvik "
      "uses the \n\t supplied atom typing. \n\n",
      stdout);
  std::fputs(
      " -NoBndLabels \n\t This option forces Sarvik to ignore the bond typing specified in \n\t "
      "the input file (if any). If this option is used, then all bonds are \n\t treated as "
      "belonging to the same type. By default Sarvik uses the \n\t supplied bond typing. \n\n",
      stdout);
  std::fputs(
      " -ofile <outfstem> \n\t Specifies the stem of the output file. The output files will be "
      "\n\t outfstem.out for the descriptor space, and outfstem_frag.sdf (SD \n\t input) or "
      "outfstem_frag.mol2 (Mol2 input) for the fragments. If \n\t output stem is not specified "
      "then the output stem is the same as \n\t input stem. \n\n",
      stdout);
  std::fputs(
      " -dspace <fragment file> \n\t Counts the fragments of the input compounds in the descriptor \n\t "
      "space of an earlier run: record n of that run's fragment file \n\t is descriptor n. "
      "Fragments outside the space are not counted, \n\t and the fragment file is not "
      "written. Give -ds, -lmin, -lmax, \n\t -NoAtmLabels and -NoBndLabels as in that run; "
      "-fmin has no \n\t meaning here. \n\n",
      stdout);
  std::fputs(
      " -threads N \n\t Works on N threads (0: one per core; at most 1024). Every output \n\t "
      "is the same for every N. The default value is one. \n\n",
      stdout);
  std::fputs(
      " -help, -h, --help \n\t Prints this text and stops. \n\n"
      " --version \n\t Prints the version of Sarvik and stops. \n\n",
      stdout);
}

namespace {

bool is_help(const char* a) {
  return std::strcmp(a, "-help") == 0 || std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0;
}

// Whether option code c takes the next argument as its value.
bool takes_value(int c) {
  return (c >= kOptDs && c <= kOptOfile) || c == kOptDspace || c == kOptThreads;
}

[[noreturn]] void usage_error(const std::string& what) {
  const std::string line = "Error: " + what + "\n";
  usage_exit(line.c_str());
}

// A whole decimal number that fits an int, or -1.
// More threads than this would only share the same cores.
constexpr int kMaxThreads = 1024;

int whole_number(const char* s) {
  const std::string_view text(s);
  std::size_t digits = 0;
  const long long n = leading_digits(text, &digits);
  if (digits == 0 || digits != text.size() || n > INT_MAX) return -1;
  return static_cast<int>(n);
}

}  // namespace

void initialize_var(int argc, char** argv) {
  if (argc < 2) usage_exit(nullptr);

  // A help or version flag anywhere, except as an option's value, wins over every
  // other problem on the line.
  for (int i = 1; i < argc; ++i) {
    if (takes_value(get_argument(argv[i]))) {
      ++i;
    } else if (is_help(argv[i])) {
      print_help();
      std::exit(0);
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Sarvik %s\n", SARVIK_VERSION);
      std::exit(0);
    }
  }

  bool stem_fixed = false;
  bool fmin_given = false;
  int i = 1;
  while (i < argc - 1) {
    const int code = get_argument(argv[i]);
    switch (code) {
      case kOptUnknown:
        if (argv[i][0] == '-') usage_error("unknown option '" + std::string(argv[i]) + "'");
        usage_error("extra argument '" + std::string(argv[i]) +
                    "': the input file is the last argument, after the options");
      case kOptDs:
        ++i;
        if (std::strcmp(argv[i], "QZ") != 0 && std::strcmp(argv[i], "TF") != 0 &&
            std::strcmp(argv[i], "PF") != 0)
          usage_exit("\nError: Invalid value for ds\n");
        option = argv[i];
        break;
      case kOptLmin:
      case kOptLmax:
      case kOptFmin: {
        ++i;
        const int n = whole_number(argv[i]);
        // Lengths count bonds, so a length of 0 is refused like a non-number;
        // a minimum frequency of 0 simply accepts every fragment.
        if (n < 0 || (code != kOptFmin && n == 0)) {
          usage_exit(code == kOptLmin   ? "\nError: Invalid value for lmin\n"
                     : code == kOptLmax ? "\nError: Invalid value for lmax\n"
                                        : "\nError: Invalid value for fmin\n");
        }
        (code == kOptLmin ? mint : code == kOptLmax ? maxt : freqt) = n;
        fmin_given = fmin_given || code == kOptFmin;
        break;
      }
      case kOptOfile:
        ++i;
        outfile = argv[i];
        stem_fixed = true;
        break;
      case kOptNoAtmLabels:
        NoAtmLabels = 1;
        break;
      case kOptNoBndLabels:
        NoBndLabels = 1;
        break;
      case kOptDspace:
        ++i;
        dspace_file = argv[i];
        break;
      case kOptThreads: {
        ++i;
        const int n = whole_number(argv[i]);
        if (n < 0 || n > kMaxThreads)
          usage_error("invalid value '" + std::string(argv[i]) + "' for -threads: a whole number from 0 to " +
                      std::to_string(kMaxThreads) + " (0: every core)");
        // 0: every core the machine reports (1 when it reports none).
        threads = n > 0 ? n : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1,
                                         kMaxThreads);
        break;
      }
      default:
        break;
    }
    ++i;
  }
  // The value of the last option was the input name itself.
  if (i > argc - 1)
    usage_error("no input file: " + std::string(argv[argc - 2]) + " took the last argument '" +
                std::string(argv[argc - 1]) + "' as its value");

  if (fmin_given && !dspace_file.empty())
    usage_error("-fmin has no meaning with -dspace: every fragment of the descriptor space "
                "is counted");

  opt = option == "TF" ? kFragmentsTrees : option == "PF" ? kFragmentsPaths : kFragmentsAll;
  filestub = argv[argc - 1];

  // Only the last path component is examined for its extension; the stem keeps the
  // directory part so that outputs land beside the input.
  const std::size_t sep = filestub.find_last_of(kPathSeparators);
  const std::size_t start = sep == std::string::npos ? 0 : sep + 1;
  const std::size_t dot = filestub.find('.', start);
  if (dot == std::string::npos) {
#ifdef _WIN32
    std::fputs("Input filename does not have either .sdf or .mol2 as extention\n", stdout);
#else
    std::fputs("Input filename does not have either .sdf or .mol2 extention.\n", stdout);
#endif
    std::fputs("Input file must be either SD file or Mol2. Refer to README.md\n", stdout);
    std::exit(kUsageStatus);
  }
  if (!stem_fixed) outfile = filestub.substr(0, dot);
  filetype = ends_in_mol2(filestub.substr(start)) ? kInputMol2 : kInputSd;

#ifdef _WIN32
  std::printf("mint = %d,maxt = %d,freqt = %d,option = %s,opt = %d,outfile = %s,filestub = %s\n",
              mint, maxt, freqt, option.c_str(), opt, outfile.c_str(), filestub.c_str());
#endif
}
