// Sarvik as a library: fragment descriptors of a collection of compounds.
//
// A run reads one collection (an SD or Mol2 file, or its bytes in memory),
// finds in every compound every connected acyclic fragment of mint..maxt
// bonds, recognises equal fragments across the collection by a canonical form,
// keeps as descriptors those met in at least freqt compounds, and hands over
// through the caller's sinks:
//   - the fragment file: one SD record (or Mol2 molecule) per descriptor, in
//     descriptor-id order, length by length as the lengths are done;
//   - the descriptor file: one line per compound, in input order ("name",n,
//     then n pairs id,count), or the same as (id, count) pairs per compound;
//   - the progress lines the command line prints on standard output;
//   - optionally its descriptor space, held in memory (Space).
// A run in the descriptor space of an earlier run (its fragment file, or a
// Space) counts each compound in that run's descriptor ids instead and writes
// no fragment file.
//
// Every output is exact and the same for every thread count. Runs share no
// state: two runs may go on at the same time on two threads. Nothing here
// prints, installs a signal handler or ends the process.
//
// Failures are exceptions: sarvik::Error for every failure the library can
// name (malformed input, a descriptor space that does not fit, a full fragment
// table, an output that cannot be written, a cancelled run), std::bad_alloc when
// memory runs out on any thread of the run. A sink that throws ends the run
// with its exception.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sarvik {

// The version, as `Sarvik --version` prints it after "Sarvik ".
const char* version();

// ---- what a run is given ----

// Input formats; a run's fragment file has its input's format.
enum class Format { sd = 0, mol2 = 1 };

// The format a file name tells: Mol2 when the last path component ends in
// ".mol2" (any letter case), SD otherwise. With windows_separators, '\' ends a
// path component too.
Format format_of(std::string_view path, bool windows_separators = false);

// The options of a run, with the command line's defaults and names.
struct Settings {
  std::string option = "QZ";  // fragment type: "QZ" every fragment, "TF" branched only,
                              // "PF" unbranched (paths) only
  int mint = 1;               // smallest fragment length in bonds (1 or more)
  int maxt = 7;               // largest fragment length in bonds; below mint sweeps none
  int freqt = 1;              // a fragment is a descriptor when met in this many
                              // compounds; must stay 1 with a descriptor space
  int NoAtmLabels = 0;        // 1: Mol2 atom types reduced to their element part
  int NoBndLabels = 0;        // 1: every bond gets one type
  int threads = 1;            // threads of the run, 1 to 1024; 0: one per core
};

// A collection of compounds: a file, or its bytes in memory. A file is read
// twice, as a stream (never held whole); one that changes between the readings
// is refused.
struct Source {
  std::string path;                       // the file read; with bytes, only the name
                                          // that messages give the input
  Format format = Format::sd;
  std::optional<std::string_view> bytes;  // the content, when given in memory; the
                                          // caller keeps it alive during the run
};

// ---- what a run hands over ----

// Where a failure about one compound (or one record of a descriptor space) was
// found.
struct CompoundPlace {
  bool active = false;  // false: the failure is about no one compound
  int position = 0;     // 1-based, in input order
  std::string name;     // as the descriptor file names it
  long long line = 0;   // input line of the problem; 0 when no one line is to blame
  std::string file;     // the input's (or the descriptor space's) name
  bool space = false;   // the compound is a record of the descriptor space
};

enum class ErrorKind {
  usage,       // settings out of range (the command line: status 2)
  input,       // unreadable or malformed input, a descriptor space that does not fit
  output,      // an output that cannot be created or written
  table_full,  // more distinct fragments than the fragment table holds
  cancelled,   // the caller's cancel flag was set
};

// A failure of a run. what() is the whole text the command line prints on
// standard output for it: the message, then, when the failure is about one
// compound, the line "  in compound <position> '<name>'[ at line <line>] of
// '<file>'" (of "the descriptor space '<file>'" for its records). Bytes that
// cannot be printed are shown escaped ("\x00"), and no text taken from the
// input is quoted beyond about 200 bytes.
class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message, const CompoundPlace& place = {});
  ErrorKind kind() const { return kind_; }
  const std::string& message() const { return message_; }
  const CompoundPlace& place() const { return place_; }

 private:
  ErrorKind kind_;
  std::string message_;
  CompoundPlace place_;
};

// How far a run has come: compounds done of total at the current length, and
// the fragments met so far (descriptors met, in a descriptor space).
struct Progress {
  int length = 0;  // 0: every length at once (a run in a descriptor space)
  int done = 0;
  int total = 0;
  long long fragments = 0;
};

// One entry of a compound's vector: descriptor id (1-based) and count.
struct DescriptorCount {
  int id;
  std::uint64_t count;
};

// One occurrence of a descriptor in a compound (runs in a descriptor space
// only): its atoms (0-based, in input order of the compound's atom lines) and
// bonds (0-based numbers of the compound's bond lines, Mol2 bonds left out of
// the compound counted too), each in the order the fragment was grown.
struct Occurrence {
  int compound = 0;    // 0-based
  int descriptor = 0;  // descriptor id
  std::span<const int> atoms;
  std::span<const int> bonds;
};

struct SpaceData;

// One descriptor fragment of a space, as its record in the fragment file lists
// it: its atoms' labels (SD atom symbols or Mol2 Tripos atom types) and its
// bonds between atoms (0-based) with their type as the format writes it (SD
// "1" to "4"; Mol2 "1", "2", "3", "ar", "am"). The views stay valid while the
// space (or a copy of it) lives.
struct SpaceFragment {
  struct Bond {
    int a;
    int b;
    std::string_view type;
  };
  int id = 0;  // the record's title: the fragment id in the run that made it
  std::vector<std::string_view> atoms;
  std::vector<Bond> bonds;  // in record order
};

// A descriptor space held in memory: the descriptor fragments of one run,
// descriptor d being fragment d - 1, each kept as its canonical form over the
// space's own label strings (a few bytes per atom, and independent of the
// label numbering of any run). A run makes one (Sinks::space), or it is read
// from a fragment file, or restored from bytes(); a run counts new input in it
// exactly as in the fragment file it stands for. Copies share the fragments,
// which never change, so a space may be read by several threads at once.
class Space {
 public:
  Space();  // no descriptor, SD
  Format format() const;
  int size() const;  // descriptors
  // The fragment file it was read from, or the input of the run that made it:
  // what messages about its records name.
  const std::string& name() const;
  // Descriptor `descriptor` (1 to size()).
  SpaceFragment fragment(int descriptor) const;
  // The fragment file it stands for, piece by piece to `sink`, byte for byte as
  // the run that made it writes it (records laid out on `threads` threads).
  void write(const std::function<void(std::string_view text)>& sink, int threads = 1,
             const std::atomic<bool>* cancel = nullptr) const;
  // A compact binary form of the space, for storing or sending it.
  std::string bytes() const;
  // The space such bytes hold; Error kind input when they hold none.
  static Space from_bytes(std::string_view bytes);
  // The space of a fragment file of `fragment_file.format` (a path, or its
  // bytes): its records as they are, in order. Errors of a malformed file as a
  // run given it as its descriptor space reports them; whether its records fit
  // a run's settings is checked by the run that uses the space. A record whose
  // title is no fragment id is written back titled by its position.
  static Space read(const Source& fragment_file, const std::atomic<bool>* cancel = nullptr);

  std::shared_ptr<const SpaceData> data;  // the library's (lib/run/run_detail.h)
};

// Where a run's outputs go. Every sink may be empty (nothing handed over).
// Sinks are called one at a time, in output order; `fragments` and
// `fragments_complete` may be called on a thread of the run other than the
// caller's, all others on the caller's thread.
struct Sinks {
  std::function<void(std::string_view line)> message;  // progress lines, each ending in '\n'
  // Warnings about the run, each a line ending in '\n' (the command line prints
  // them on standard error).
  std::function<void(std::string_view line)> warning;
  std::function<void(const Progress&)> progress;       // often; keep it cheap
  std::function<void(std::string_view text)> fragments;  // the fragment file, piece by piece
  std::function<void()> fragments_complete;             // the fragment file is whole
  std::function<void(std::string_view text)> descriptors;  // the descriptor file, whole lines
  // Each compound's vector, in input order, when the descriptor file is written.
  std::function<void(int compound, std::string_view name, std::span<const DescriptorCount>)>
      vectors;
  // Every occurrence of every descriptor, compound by compound, each compound's
  // length by length (a run in a descriptor space only; it enumerates on one
  // thread).
  std::function<void(const Occurrence&)> occurrences;
  // The run's descriptor space, once every length is done (a run not in a
  // descriptor space only): what its fragment file holds.
  std::function<void(Space space)> space;
  // Called once every output has been handed over, before the run's last
  // message: where outputs are files, the place to commit them.
  std::function<void()> complete;
  // Where the run may keep the occurrence lists of a run that is not in a
  // descriptor space (about 4 bytes per fragment each compound holds, length
  // by length: 1.4 GB for 500,000 compounds of 40 atoms) instead of memory: a
  // path stem beside which it creates a file "<stem>.tmp" followed by 12
  // random hexadecimal digits, exclusively, and removes it at once (Windows:
  // when the run ends). Empty: the lists are held in memory.
  std::string scratch;
  // Set (by any thread, or a signal handler) to stop the run: it ends within a
  // few milliseconds of work with Error kind cancelled. Not read after
  // `complete` has been called.
  const std::atomic<bool>* cancel = nullptr;
};

// What a complete run found.
struct Summary {
  int compounds = 0;
  int fragments = 0;       // distinct fragments met, all lengths together
  int descriptors = 0;     // descriptor ids given (in a space: descriptors met)
  long long outside = 0;   // in a space: occurrences outside it
};

// One run over `input`, in the descriptor space `space` (the fragment file of an
// earlier run, of the input's format) when given. Throws Error or
// std::bad_alloc on failure; sinks may have received part of the outputs then.
Summary run(const Settings& settings, const Source& input, const Source* space,
            const Sinks& sinks);
// The same in a descriptor space held in memory: exactly what a run in the
// descriptor space of the fragment file space.write() writes gives.
Summary run(const Settings& settings, const Source& input, const Space& space,
            const Sinks& sinks);

// ---- outputs as files ----

// The two output files of a run, committed as a pair. They are written under
// temporary names beside their final names (the final name followed by ".tmp"
// and 12 random hexadecimal digits, created exclusively, never through an
// existing name or link). commit() puts both in place at once: the earlier
// files are moved to temporary names, the new ones renamed over the final
// names, then the earlier ones removed; when a rename fails, the earlier pair
// is put back. The destructor removes what commit() did not put in place, so a
// run that fails or is stopped leaves the earlier outputs as they were.
//
// One writer per output stem: the pair holds a lock file beside the outputs
// (the descriptor file's name followed by ".lock") from before the temporaries
// are made until the end; it is removed then. A second pair on the same
// outputs is refused (Error kind output) while the first lives. The lock file
// also journals a commit in progress: a pair that finds one left by a process
// killed in the middle (SIGKILL) first restores a consistent pair (the earlier
// one while it is whole, else the new one), then removes every temporary that
// the dead process left.
//
// Refuses, with Error kind output, outputs that would replace one of `inputs`
// (whatever the spelling of their names; `space` is named as the descriptor
// space) or that name a folder, and files that cannot be created.
class OutputPair {
 public:
  // An empty fragment_path makes the descriptor file alone.
  OutputPair(const std::string& fragment_path, const std::string& descriptor_path,
             const std::vector<std::string>& inputs, const std::string& space = "");
  ~OutputPair();
  OutputPair(const OutputPair&) = delete;
  OutputPair& operator=(const OutputPair&) = delete;

  // Appends to the fragment file or the descriptor file; Error kind output
  // ("can't write the file '<final name>': <reason>") when the write fails.
  void write_fragments(std::string_view text);
  void write_descriptors(std::string_view text);
  // Starts writing the complete fragment file out to its device.
  void fragments_written();
  // Closes both files, checking every write, and puts them in place as a pair.
  void commit();
  // Sinks that write here and commit at the run's end, with `hooks`'s message,
  // warning, progress and cancel.
  Sinks sinks(const Sinks& hooks);
  // Called at each step of commit() (1: the journal is written, 2: the earlier
  // files are moved aside, 3: the first new file is in place, 4: both are): for
  // tests that stop or kill a run there.
  void on_commit_step(std::function<void(int step)> hook);

 private:
  struct File;
  struct Lock;
  std::vector<File> files_;  // fragment file (when made), descriptor file
  std::unique_ptr<Lock> lock_;
  std::function<void(int step)> step_hook_;
};

}  // namespace sarvik
