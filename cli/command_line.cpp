// The command line: options, usage text, output stem and input format.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "cli/command_line.h"

namespace sarvik {

namespace {

#ifdef _WIN32
constexpr const char* kPathSeparators = "/\\";
#else
constexpr const char* kPathSeparators = "/";
#endif

// Option codes of the command line's arguments.
enum OptionCode : int {
  kOptUnknown = 0,  // anything else
  kOptDs = 1,
  kOptLmin = 2,
  kOptLmax = 3,
  kOptFmin = 4,
  kOptOfile = 5,
  kOptHelp = 6,
  kOptNoAtmLabels = 7,
  kOptNoBndLabels = 8,
  kOptDspace = 9,
  kOptThreads = 10,
};

// A usage error: the message and the usage text.
[[noreturn]] void usage_exit(const std::string& message) {
  throw Error(ErrorKind::usage, message + usage_text());
}

// Option code of one argument.
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

}  // namespace

std::string usage_text() {
  std::string text;
  const auto add = [&text](const char* s) { text += s; };
  add("\nUSAGE:\n");
  add("Sarvik [options] <input file>\n\n");
#ifdef _WIN32
  add(
      "<input file> \n\t Sarvik's only required parameter is a file that stores the \n\t input "
      "compounds. Sarvik supports the sdf and mol2 file \n\t formats that are selected based on "
      "the extension of the input \n\t file. If the file has an \".sdf\" extension, then Sarvik "
      "expects \n\t the compounds to be specified in SDF format; whereas if the \n\t extension is "
      "\".mol2\", Sarvik assumes that the file is in Mol2 format. \n\n");
#else
  add(
      "<input file> \n\t Sarvik's required parameter is the input file name containing "
      "compounds. \n\t Sarvik supports the sdf and mol2 file formats that are selected \n\t based "
      "on the extension of the input file. If the file has an \".sdf\" \n\t extension, then Sarvik "
      "expects the compounds to be specified in \n\t SDF format; whereas if the extension is "
      "\".mol2\", Sarvik assumes \n\t that the file is in Mol2 format. \n\n");
#endif
  add("\nOptions\n\n");
  add(
      " -ds {QZ,TF,PF} \n\t Specifies the type of fragments to be generated. \n\t The possible "
      "values are:\n\t QZ Acyclic Fragments (default), \n\t TF Tree Fragments (acyclic fragments "
      "consisting of trees only) \n\t PF Path Fragments (PF) (acyclic fragments consisting of "
      "paths only)\n\n");
  add(
      " -lmin [1...] \n\t Specifies the minimum number of bonds (i.e., length) of the \n\t "
      "generated fragments. The default value is one.\n\n");
  add(
      " -lmax [1...] \n\t Specifies the maximum number of bonds of the generated fragments. \n\t "
      "If lmax is less than lmin, no fragment length is generated. \n\t The default value is "
      "seven. \n\n");
  add(
      " -fmin [1...] \n\t Specifies the minimum frequency that a fragment must have before \n\t "
      "it becomes a descriptor. The frequency of a fragment is based on \n\t the number of "
      "distinct compounds that it occurs at. The default \n\t value is one (i.e., all fragments "
      "are treated as descriptors). \n\n");
  add(
      " -NoAtmLabels \n\t This option forces Sarvik to ignore the fine atom typing specified \n\t "
      "in the input file (if any). If this option is used, then only the \n\t basic atom types "
      "are used (e.g., P, N, O, etc.). This option applies \n\t only to inputs files that use the "
      "Mol2 format, as the SDF format \n\t does not support fine atom typing. By default Sarvik "
      "uses the \n\t supplied atom typing. \n\n");
  add(
      " -NoBndLabels \n\t This option forces Sarvik to ignore the bond typing specified in \n\t "
      "the input file (if any). If this option is used, then all bonds are \n\t treated as "
      "belonging to the same type. By default Sarvik uses the \n\t supplied bond typing. \n\n");
  add(
      " -ofile <outfstem> \n\t Specifies the stem of the output file. The output files will be "
      "\n\t outfstem.out for the descriptor space, and outfstem_frag.sdf (SD \n\t input) or "
      "outfstem_frag.mol2 (Mol2 input) for the fragments. If \n\t output stem is not specified "
      "then the output stem is the same as \n\t input stem. \n\n");
  add(
      " -dspace <fragment file> \n\t Counts the fragments of the input compounds in the descriptor \n\t "
      "space of an earlier run: record n of that run's fragment file \n\t is descriptor n. "
      "Fragments outside the space are not counted, \n\t and the fragment file is not "
      "written. Give -ds, -lmin, -lmax, \n\t -NoAtmLabels and -NoBndLabels as in that run; "
      "-fmin has no \n\t meaning here. \n\n");
  add(
      " -threads N \n\t Works on N threads (0: one per core; at most 1024). Every output \n\t "
      "is the same for every N. The default value is one. \n\n");
  add(
      " -help, -h, --help \n\t Prints this text and stops. \n\n"
      " --version \n\t Prints the version of Sarvik and stops. \n\n");
  return text;
}

namespace {

bool is_help(const char* a) {
  return std::strcmp(a, "-help") == 0 || std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0;
}

// Whether option code c takes the next argument as its value.
bool takes_value(int c) {
  return (c >= kOptDs && c <= kOptOfile) || c == kOptDspace || c == kOptThreads;
}

[[noreturn]] void usage_error(const std::string& what) { usage_exit("Error: " + what + "\n"); }

// More threads than this would only share the same cores.
constexpr int kMaxThreads = 1024;

// A whole decimal number that fits an int, or -1.
int whole_number(const char* s) {
  std::size_t digits = 0;
  long long n = 0;
  for (; s[digits] >= '0' && s[digits] <= '9'; ++digits)
    if ((n = n * 10 + (s[digits] - '0')) > INT_MAX) n = static_cast<long long>(INT_MAX) + 1;
  if (digits == 0 || s[digits] != '\0' || n > INT_MAX) return -1;
  return static_cast<int>(n);
}

}  // namespace

Request parse_command_line(int argc, char** argv, CommandLine& cl) {
  if (argc < 2) usage_exit("");

  // A help or version flag anywhere, except as an option's value, wins over every
  // other problem on the line.
  for (int i = 1; i < argc; ++i) {
    if (takes_value(get_argument(argv[i])))
      ++i;
    else if (is_help(argv[i]))
      return Request::help;
    else if (std::strcmp(argv[i], "--version") == 0)
      return Request::version;
  }

  Settings& s = cl.settings;
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
        s.option = argv[i];
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
        (code == kOptLmin ? s.mint : code == kOptLmax ? s.maxt : s.freqt) = n;
        fmin_given = fmin_given || code == kOptFmin;
        break;
      }
      case kOptOfile:
        ++i;
        cl.outfile = argv[i];
        stem_fixed = true;
        break;
      case kOptNoAtmLabels:
        s.NoAtmLabels = 1;
        break;
      case kOptNoBndLabels:
        s.NoBndLabels = 1;
        break;
      case kOptDspace:
        ++i;
        cl.dspace_file = argv[i];
        break;
      case kOptThreads: {
        ++i;
        const int n = whole_number(argv[i]);
        if (n < 0 || n > kMaxThreads)
          usage_error("invalid value '" + std::string(argv[i]) +
                      "' for -threads: a whole number from 0 to " + std::to_string(kMaxThreads) +
                      " (0: every core)");
        // 0: every core the machine reports (1 when it reports none).
        s.threads = n > 0 ? n
                          : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1,
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

  if (fmin_given && !cl.dspace_file.empty())
    usage_error("-fmin has no meaning with -dspace: every fragment of the descriptor space "
                "is counted");

  cl.filestub = argv[argc - 1];

  // Only the last path component is examined for its extension; the stem keeps the
  // directory part so that outputs land beside the input.
  const std::size_t sep = cl.filestub.find_last_of(kPathSeparators);
  const std::size_t start = sep == std::string::npos ? 0 : sep + 1;
  const std::size_t dot = cl.filestub.find('.', start);
  if (dot == std::string::npos) {
#ifdef _WIN32
    throw Error(ErrorKind::usage,
                "Input filename does not have either .sdf or .mol2 as extention\n"
                "Input file must be either SD file or Mol2. Refer to README.md\n");
#else
    throw Error(ErrorKind::usage,
                "Input filename does not have either .sdf or .mol2 extention.\n"
                "Input file must be either SD file or Mol2. Refer to README.md\n");
#endif
  }
  if (!stem_fixed) cl.outfile = cl.filestub.substr(0, dot);
#ifdef _WIN32
  cl.filetype = format_of(cl.filestub, true);
#else
  cl.filetype = format_of(cl.filestub);
#endif
  return Request::run;
}

// SD runs write SD records, Mol2 runs Mol2 molecules; the suffix says which, so
// that readers that go by the extension read them.
std::string rules_file_name(const CommandLine& cl) {
  return cl.outfile + (cl.filetype == Format::mol2 ? "_frag.mol2" : "_frag.sdf");
}

std::string output_file_name(const CommandLine& cl) { return cl.outfile + ".out"; }

}  // namespace sarvik
