// Internals of the run driver that tests reach: the command line and the run.
#pragma once

// Option code of one argument: 1 -ds, 2 -lmin, 3 -lmax, 4 -fmin, 5 -ofile,
// 6 -help, 7 -NoAtmLabels, 8 -NoBndLabels, 0 anything else.
int get_argument(const char* str);

// Writes the usage text on standard output.
void print_help();

// Parses the command line into the run-wide settings. Returns only when it is
// valid; otherwise prints the usage text and/or a message and ends the process:
// status 0 for -help, 2 for every usage error.
void initialize_var(int argc, char** argv);

// The whole run; returns the exit status of a complete run (0).
int sarvik_main(int argc, char** argv);
