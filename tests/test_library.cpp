// The library through its public interface: runs in one process give what
// separate processes of the command line give, one after the other and at the
// same time; every chunk size of the workers gives the one-thread bytes; input
// in memory reads as the file; failures are exceptions; a cancelled run stops.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "run/run_detail.h"
#include "test_support.h"

using test_support::read_text;
using test_support::run_sarvik;
using test_support::scratch_dir;

namespace {

// Everything a run hands over, as text.
struct Captured {
  std::string messages;
  std::string fragments;
  std::string descriptors;
  std::string error;  // what() of a failure
};

Sinks capture(Captured& c) {
  Sinks s;
  s.message = [&c](std::string_view line) { c.messages += line; };
  s.fragments = [&c](std::string_view text) { c.fragments += text; };
  s.descriptors = [&c](std::string_view text) { c.descriptors += text; };
  return s;
}

struct Job {
  std::string input;   // a file of tests/data
  Settings settings;
  std::string space;   // a fragment file made by the command line, or none
};

Captured run_job(const Job& job, int threads, int chunk = 0) {
  const std::string path = test_support::data_path(job.input);
  const Source input{path, format_of(path), std::nullopt};
  const Source space{job.space, input.format, std::nullopt};
  Settings settings = job.settings;
  settings.threads = threads;
  Captured c;
  Run r;
  r.chunk = chunk;
  r.stride = 1;  // chunks in a space begin where the first pass noted a start
  try {
    run_with(r, settings, input, job.space.empty() ? nullptr : &space, capture(c));
  } catch (const Error& e) {
    c.error = e.what();
  }
  return c;
}

// The command line's run of the same job in its own process: standard output
// and the files, read back.
Captured run_process(const Job& job, const std::string& dir) {
  std::vector<std::string> args = {"-ofile", "p", "-lmin", std::to_string(job.settings.mint),
                                   "-lmax", std::to_string(job.settings.maxt), "-ds",
                                   job.settings.option};
  if (job.settings.freqt != 1) args.insert(args.end(), {"-fmin", std::to_string(job.settings.freqt)});
  if (job.settings.NoAtmLabels) args.push_back("-NoAtmLabels");
  if (!job.space.empty()) args.insert(args.end(), {"-dspace", job.space});
  args.push_back(test_support::data_path(job.input));
  const auto r = run_sarvik(args, dir);
  EXPECT_EQ(r.status, 0) << r.out;
  Captured c;
  c.messages = r.out;
  c.descriptors = read_text(dir + "/p.out");
  if (job.space.empty())
    c.fragments = read_text(dir + (job.input.ends_with(".mol2") ? "/p_frag.mol2" : "/p_frag.sdf"));
  return c;
}

void expect_same(const Captured& a, const Captured& b, const std::string& what) {
  EXPECT_EQ(a.error, b.error) << what;
  EXPECT_EQ(a.messages, b.messages) << what;
  EXPECT_TRUE(a.fragments == b.fragments) << what << ": fragment files differ";
  EXPECT_TRUE(a.descriptors == b.descriptors) << what << ": descriptor files differ";
}

Settings settings(const char* option, int mint, int maxt, int freqt = 1, int no_atm = 0) {
  Settings s;
  s.option = option;
  s.mint = mint;
  s.maxt = maxt;
  s.freqt = freqt;
  s.NoAtmLabels = no_atm;
  return s;
}

}  // namespace

TEST(Library, RunsInOneProcessGiveWhatSeparateProcessesGive) {
  const std::string dir = scratch_dir();
  // Two different runs, and a third counted in the space of the first.
  std::vector<Job> jobs = {{"cdk2.sdf", settings("QZ", 2, 6, 2), ""},
                           {"cdk2.mol2", settings("TF", 1, 6, 1, 1), ""}};
  std::vector<Captured> expected;
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    std::filesystem::create_directories(dir + "/" + std::to_string(j));
    expected.push_back(run_process(jobs[j], dir + "/" + std::to_string(j)));
  }
  jobs.push_back({"cdk2_heavy.sdf", settings("QZ", 2, 6), dir + "/0/p_frag.sdf"});
  std::filesystem::create_directories(dir + "/2");
  expected.push_back(run_process(jobs[2], dir + "/2"));

  // One after the other, on one thread and on two.
  for (int threads : {1, 2})
    for (std::size_t j = 0; j < jobs.size(); ++j)
      expect_same(run_job(jobs[j], threads), expected[j],
                  jobs[j].input + " on " + std::to_string(threads) + " threads");
  // At the same time, each on threads of its own.
  std::vector<Captured> got(jobs.size());
  std::vector<std::thread> at_once;
  for (std::size_t j = 0; j < jobs.size(); ++j)
    at_once.emplace_back([&, j] { got[j] = run_job(jobs[j], j == 0 ? 1 : 2); });
  for (std::thread& t : at_once) t.join();
  for (std::size_t j = 0; j < jobs.size(); ++j) expect_same(got[j], expected[j], jobs[j].input + " at once");
}

// Workers hand over chunks of compounds; whatever the chunk size and the number
// of workers, the compounds are entered (or, in a space, counted and their
// lines handed over) as one thread enters them.
TEST(Library, EveryChunkSizeGivesTheOneThreadBytes) {
  const std::string dir = scratch_dir();
  ASSERT_EQ(run_sarvik({"-lmax", "4", "-fmin", "3", "-ofile", "s", test_support::data_path("cdk2.sdf")}, dir).status, 0);
  const std::vector<Job> jobs = {{"cdk2.sdf", settings("QZ", 1, 5), ""},
                                 {"cdk2.mol2", settings("PF", 2, 7), ""},
                                 {"cdk2_heavy.sdf", settings("QZ", 1, 4), dir + "/s_frag.sdf"}};
  for (const Job& job : jobs) {
    const Captured one = run_job(job, 1);
    ASSERT_EQ(one.error, "");
    for (int threads : {2, 3})
      for (int chunk : {1, 2, 5, 17, 256})
        expect_same(run_job(job, threads, chunk), one,
                    job.input + ": " + std::to_string(threads) + " threads, chunks of " +
                        std::to_string(chunk));
  }
}

TEST(Library, InputInMemoryFailuresAndCancelling) {
  const std::string path = test_support::data_path("cdk2.sdf");
  const std::string text = read_text(path);
  Settings s = settings("QZ", 1, 3);
  // Bytes read as the file; messages name the input as given.
  Captured from_file, from_bytes;
  run(s, Source{path, Format::sd, std::nullopt}, nullptr, capture(from_file));
  run(s, Source{"memory.sdf", Format::sd, std::string_view(text)}, nullptr, capture(from_bytes));
  expect_same(from_bytes, from_file, "bytes");

  // A malformed compound: Error kind input naming it.
  const std::string broken = text + "bad\n\n\n  2  1\n    0.0000    0.0000    0.0000 C   0\n"
                                    "    0.0000    0.0000    0.0000 C   0\n  1  3  1\n$$$$\n";
  try {
    run(s, Source{"broken.sdf", Format::sd, std::string_view(broken)}, nullptr, Sinks{});
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::input);
    EXPECT_EQ(e.message(), "graph lookup vid : can't find a vid in a graph 2\n");
    EXPECT_EQ(e.place().position, 48);
    EXPECT_EQ(e.place().name, "bad");
    EXPECT_EQ(std::string(e.what()),
              e.message() + "  in compound 48 'bad' at line 5380 of 'broken.sdf'\n");
  }
  // Settings out of range: Error kind usage.
  Settings bad = s;
  bad.maxt = 0;
  EXPECT_THROW(run(bad, Source{path, Format::sd, std::nullopt}, nullptr, Sinks{}), Error);

  // A cancel flag set from another thread (here: by the progress of the second
  // length) stops the run within the next compounds, on one thread and on three.
  for (int threads : {1, 3}) {
    std::atomic<bool> cancel{false};
    Sinks sinks;
    sinks.cancel = &cancel;
    sinks.progress = [&cancel](const Progress& p) {
      if (p.length == 2) cancel = true;
    };
    s.threads = threads;
    s.maxt = 12;
    try {
      run(s, Source{path, Format::sd, std::nullopt}, nullptr, sinks);
      ADD_FAILURE() << "not cancelled";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::cancelled);
    }
  }
}

// A file that changes between the first pass and the second (the same size with
// other bytes, or cut short) is refused, whether the second pass builds every
// compound or counts them in a space as it goes, on one thread or on several,
// before anything read from it is believed; so is a descriptor space.
TEST(Library, AFileChangedBetweenThePassesIsRefused) {
  const std::string dir = scratch_dir();
  const std::string text = read_text(test_support::data_path("cdk2.sdf"));
  ASSERT_EQ(run_sarvik({"-lmax", "3", "-ofile", "s", test_support::data_path("cdk2.sdf")}, dir).status, 0);
  const std::string path = dir + "/m.sdf";
  std::string other = text;
  const std::size_t carbon = other.find(" C   0", other.size() / 2);
  ASSERT_NE(carbon, std::string::npos);
  other[carbon + 1] = 'N';
  for (const std::string& changed : {other, text.substr(0, text.size() / 2)})
    for (const bool in_space : {false, true})
      for (const int threads : {1, 3}) {
        SCOPED_TRACE(std::to_string(changed.size()) + (in_space ? " bytes, in a space, " : " bytes, ") +
                     std::to_string(threads) + " threads");
        test_support::write_text(path, text);
        Sinks sinks;
        sinks.message = [&](std::string_view line) {
          if (line.starts_with("total compounds")) test_support::write_text(path, changed);
        };
        Settings s = settings("QZ", 1, 3);
        s.threads = threads;
        const Source space{dir + "/s_frag.sdf", Format::sd, std::nullopt};
        EXPECT_ERROR_TEXT(run(s, Source{path, Format::sd, std::nullopt}, in_space ? &space : nullptr, sinks),
                          "the input file '" + path +
                              "' changed while it was read (the second reading found other bytes "
                              "than the first): run again once nothing writes to it\n");
      }
  // The space's fragment file is read twice too.
  test_support::write_text(path, text);
  const std::string space_text = read_text(dir + "/s_frag.sdf");
  Sinks sinks;
  sinks.message = [&](std::string_view line) {
    if (line.starts_with("total compounds"))
      test_support::write_text(dir + "/s_frag.sdf", space_text.substr(0, space_text.size() / 2));
  };
  const Source space{dir + "/s_frag.sdf", Format::sd, std::nullopt};
  EXPECT_ERROR_TEXT(run(settings("QZ", 1, 3), Source{path, Format::sd, std::nullopt}, &space, sinks),
                    "the descriptor space '" + space.path +
                        "' changed while it was read (the second reading found other bytes than "
                        "the first): run again once nothing writes to it\n");
}

// 26 copies of the 47 compounds (1222: more than two blocks of the occurrence
// lists, spilled in several pieces) have the fragments of one copy and, line
// for line, its descriptor file repeated; so have the copies counted in its
// space, streamed in chunks. On one thread and on three.
TEST(Library, CopiesOfACollectionRepeatItsLines) {
  const std::string dir = scratch_dir();
  const std::string text = read_text(test_support::data_path("cdk2.sdf"));
  std::string many;
  for (int k = 0; k < 26; ++k) many += text;
  test_support::write_text(dir + "/one.sdf", text);
  test_support::write_text(dir + "/many.sdf", many);
  ASSERT_EQ(run_sarvik({"-lmax", "5", "-ofile", "one", "one.sdf"}, dir).status, 0);
  const std::string lines = read_text(dir + "/one.out");
  std::string repeated;
  for (int k = 0; k < 26; ++k) repeated += lines;
  for (const char* threads : {"1", "3"}) {
    SCOPED_TRACE(std::string(threads) + " threads");
    ASSERT_EQ(run_sarvik({"-threads", threads, "-lmax", "5", "-ofile", "many", "many.sdf"}, dir).status, 0);
    EXPECT_TRUE(read_text(dir + "/many.out") == repeated);
    EXPECT_TRUE(read_text(dir + "/many_frag.sdf") == read_text(dir + "/one_frag.sdf"));
    ASSERT_EQ(run_sarvik({"-threads", threads, "-lmax", "5", "-dspace", "one_frag.sdf", "-ofile",
                          "space", "many.sdf"},
                         dir)
                  .status,
              0);
    EXPECT_TRUE(read_text(dir + "/space.out") == repeated);
  }
}

// Occurrences of the descriptors of a space, as reported with their atoms and
// bonds: per compound and descriptor as many as the vector counts, each a
// connected set of `length` bonds over length + 1 atoms.
TEST(Library, OccurrencesMatchTheCounts) {
  const std::string dir = scratch_dir();
  const std::string path = test_support::data_path("cdk2_heavy.sdf");
  ASSERT_EQ(run_sarvik({"-lmax", "4", "-ofile", "s", path}, dir).status, 0);
  const Source input{path, Format::sd, std::nullopt};
  const Source space{dir + "/s_frag.sdf", Format::sd, std::nullopt};
  std::map<std::pair<int, int>, std::uint64_t> counted, reported;
  Sinks sinks;
  sinks.vectors = [&counted](int i, std::string_view, std::span<const DescriptorCount> pairs) {
    for (const DescriptorCount& p : pairs) counted[{i, p.id}] = p.count;
  };
  sinks.occurrences = [&reported](const Occurrence& o) {
    ++reported[{o.compound, o.descriptor}];
    ASSERT_EQ(o.atoms.size(), o.bonds.size() + 1);
    ASSERT_GE(o.bonds.size(), 1u);
    ASSERT_LE(o.bonds.size(), 4u);
  };
  Settings s = settings("QZ", 1, 4);
  s.threads = 3;  // occurrences come from one thread all the same
  const Summary summary = run(s, input, &space, sinks);
  EXPECT_GT(summary.descriptors, 500);
  EXPECT_EQ(reported, counted);
}
