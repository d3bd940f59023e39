// Internals of the run driver that tests reach: the command line and the run.
#pragma once

#include <cstdio>

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
};
// Option code of one argument.
int get_argument(const char* str);

// Writes the usage text on standard output.
void print_help();

// Parses the command line into the run-wide settings. Returns only when it is
// valid; otherwise prints the usage text and/or a message and ends the process:
// status 0 for -help, 2 for every usage error.
void initialize_var(int argc, char** argv);

// The whole run; returns the exit status of a complete run (0).
int sarvik_main(int argc, char** argv);

// The run's output files, open under temporary names beside their final names.
struct RunOutputs {
  FILE* frag = nullptr;  // the fragment file; null when the run makes none
  FILE* out = nullptr;   // the descriptor file
};

// Refuses outputs that would replace the input file (or the descriptor space) or
// that name a folder, then creates both temporaries (the descriptor file's alone
// without fragments) (exclusively, never through a link); ends the run with
// "can't open a file '<name>': <reason>" when one cannot be created. From here on
// the temporaries are removed at every exit and on SIGINT, SIGTERM, SIGHUP and
// SIGPIPE (after which the process ends by that signal); on Windows on Ctrl-C,
// Ctrl-Break and a closed console window.
RunOutputs open_run_outputs(bool with_fragments = true);
// Ends the run naming the file when a write to output fp has failed.
void check_run_output(FILE* fp);
// Flushes and closes both outputs, checking every write, then renames them over
// the final names.
void commit_run_outputs();
// Closes and removes the temporaries not yet renamed.
void discard_run_outputs();
