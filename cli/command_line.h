// The command-line client: options, usage text, output names, and the whole
// program as a function (the process's hooks included).
#pragma once

#include <string>

#include "sarvik/sarvik.h"

namespace sarvik {

// A parsed command line: the run's settings and the files it names.
struct CommandLine {
  Settings settings;
  std::string filestub;     // the input path as given, extension included
  std::string outfile;      // the output stem
  std::string dspace_file;  // -dspace: the fragment file of an earlier run; empty for none
  Format filetype = Format::sd;
};

// What the command line asks for.
enum class Request { run, help, version };

// Parses argv into cl. Throws Error kind usage whose message is the whole text
// to print (a line saying what is wrong and, for most problems, the usage
// text) when the line is not valid; the program then ends with status 2.
Request parse_command_line(int argc, char** argv, CommandLine& cl);

// The usage text.
std::string usage_text();

// The run's output files: stem + "_frag.sdf" (or "_frag.mol2" for Mol2 input)
// and stem + ".out".
std::string rules_file_name(const CommandLine& cl);
std::string output_file_name(const CommandLine& cl);

// The whole program: parses the command line, runs, prints what a run says and
// returns the exit status (0 complete run or help, 2 usage error, 1 any other
// failure). A run stopped by SIGINT, SIGTERM, SIGHUP or SIGPIPE (Windows: a
// console event) ends the process by that signal after removing its
// temporaries.
int cli_main(int argc, char** argv);

}  // namespace sarvik
