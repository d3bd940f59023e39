// Internals of the run driver that tests reach: the command line and the run.
#pragma once

#include <cstdio>
#include <functional>
#include <vector>

#include "common/common.h"

struct DescriptorSpace;
struct FragmentTable;

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
// Starts writing output fp out to its device, without waiting for it.
void start_writing_back(FILE* fp);
// Flushes and closes both outputs, checking every write, then renames them over
// the final names.
void commit_run_outputs();
// Closes and removes the temporaries not yet renamed.
void discard_run_outputs();

// One length of the sweep on `threads` worker threads: every compound of G is
// enumerated and its fragments entered into hashg (or counted in space) in
// compound order, with csrcount offsets moved on, exactly as one thread calling
// find_all_spanning compound after compound. progress(done) follows each
// compound entered. At most a few chunks of compounds per thread are in flight.
// A fatal error in a worker ends the run, with its message, once the compounds
// before the failing one are entered.
void enumerate_length_in_parallel(const std::vector<Graph>& G, FragmentTable& hashg, int& count,
                                  const DescriptorSpace* space, int threads,
                                  const std::function<void(int done)>& progress);
// The sweep after a length (see sweep_length), its fragment records written to
// fp by a thread of their own while the run goes on; waits first for the records
// of the length before. After the last length's records (last) the thread starts
// writing the file out.
void write_records_in_background(FragmentTable& hashg, int& k, FILE* fp, bool last);
// Waits for the records in writing; ends the run as their writing did when it
// failed. Nothing when none are in writing.
void finish_background_records();
// Stops and joins every thread working beside this one (before the process ends
// on a fatal error); nothing when there are none.
void stop_background_threads();
