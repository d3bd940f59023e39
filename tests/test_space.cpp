// Descriptor spaces held in memory: a space made by a run, read from its
// fragment file or restored from its bytes writes that fragment file byte for
// byte, and a run in it gives what a run in the fragment file gives, refusals
// included; bytes that hold no space are refused, never trusted.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "run/run_detail.h"
#include "test_support.h"

using test_support::read_text;

namespace {

struct Captured {
  std::string messages, fragments, descriptors, error;
};

Sinks capture(Captured& c) {
  Sinks s;
  s.message = [&c](std::string_view line) { c.messages += line; };
  s.fragments = [&c](std::string_view text) { c.fragments += text; };
  s.descriptors = [&c](std::string_view text) { c.descriptors += text; };
  return s;
}

// One run, its failure's text kept; in the fragment file `space_text` (named
// space_name) or in `held` when given.
Captured run_in(const Settings& s, const Source& input, const std::string* space_text,
                const Space* held, const std::string& space_name = "space") {
  Captured c;
  try {
    if (held != nullptr) {
      run(s, input, *held, capture(c));
    } else if (space_text != nullptr) {
      const Source space{space_name, input.format, std::string_view(*space_text)};
      run(s, input, &space, capture(c));
    } else {
      run(s, input, nullptr, capture(c));
    }
  } catch (const Error& e) {
    c.error = e.what();
  }
  return c;
}

std::string written(const Space& space, int threads = 1) {
  std::string text;
  space.write([&text](std::string_view t) { text += t; }, threads);
  return text;
}

Source data(const std::string& file) {
  const std::string path = test_support::data_path(file);
  return Source{path, format_of(path), std::nullopt};
}

}  // namespace

TEST(Space, MadeReadAndRestoredSpacesAreTheFragmentFile) {
  struct Job {
    std::string train, test;
    Settings settings;
  };
  std::vector<Job> jobs(3);
  jobs[0] = {"cdk2.sdf", "cdk2_heavy.sdf", {}};
  jobs[0].settings.maxt = 5;
  jobs[0].settings.freqt = 2;
  jobs[1] = jobs[0];
  jobs[1].settings.threads = 2;
  jobs[2] = {"cdk2.mol2", "cdk2_heavy.mol2", {}};
  jobs[2].settings.option = "TF";
  jobs[2].settings.maxt = 6;
  jobs[2].settings.NoAtmLabels = 1;
  jobs[2].settings.threads = 2;
  for (const Job& job : jobs) {
    const std::string what = job.train + " on " + std::to_string(job.settings.threads) + " threads";
    Captured c;
    std::optional<Space> made;
    Sinks sinks = capture(c);
    sinks.space = [&made](Space s) { made = std::move(s); };
    const Summary summary = run(job.settings, data(job.train), nullptr, sinks);
    ASSERT_TRUE(made.has_value()) << what;
    EXPECT_EQ(made->size(), summary.descriptors) << what;
    EXPECT_TRUE(written(*made, 3) == c.fragments) << what << ": made";
    const Space restored = Space::from_bytes(made->bytes());
    EXPECT_TRUE(written(restored) == c.fragments) << what << ": restored";
    EXPECT_EQ(restored.bytes(), made->bytes()) << what;
    const Space read = Space::read(Source{"space", data(job.train).format, std::string_view(c.fragments)});
    EXPECT_TRUE(written(read) == c.fragments) << what << ": read";

    // Counting new compounds: as in the fragment file, for each of the three.
    // An SD input holds an atom label the space lacks, which comes first in
    // the run's label set: the space's labels must be ranked anew.
    Settings in_space = job.settings;
    in_space.freqt = 1;
    std::string text = read_text(data(job.test).path);
    if (data(job.test).format == Format::sd)
      text += "silver\n\n\n  2  1  0  0  0  0  0  0  0  0999 V2000\n"
              "    0.0000    0.0000    0.0000 Ag  0  0\n    0.0000    0.0000    0.0000 C   0  0\n"
              "  1  2  1  0\nM  END\n$$$$\n";
    const Source test{data(job.test).path, data(job.test).format, std::string_view(text)};
    const Captured expected = run_in(in_space, test, &c.fragments, nullptr);
    ASSERT_EQ(expected.error, "") << what;
    for (const Space* held : {static_cast<const Space*>(&*made), &restored, &read}) {
      const Captured got = run_in(in_space, test, nullptr, held);
      EXPECT_EQ(got.error, "") << what;
      EXPECT_EQ(got.messages, expected.messages) << what;
      EXPECT_TRUE(got.descriptors == expected.descriptors) << what;
    }
    // Refusals as the fragment file's: other lengths, another format.
    Settings shorter = in_space;
    shorter.maxt = 4;
    EXPECT_EQ(run_in(shorter, test, nullptr, &read).error,
              run_in(shorter, test, &c.fragments, nullptr).error);
    const Source other = data(job.test.ends_with(".sdf") ? "cdk2_heavy.mol2" : "cdk2_heavy.sdf");
    const Captured refused = run_in(in_space, other, nullptr, &read);
    EXPECT_NE(refused.error, "");
    EXPECT_EQ(refused.error, run_in(in_space, other, &c.fragments, nullptr).error);
  }
}

// A fragment file's records keep their titles; records of hand-made files
// whose title is no fragment id are titled by position. Descriptor d's
// fragment lists the record's atoms and bonds.
TEST(Space, FragmentsAndTitles) {
  const std::string text =
      "9\n  QZ                2D\n\n  3  2  0  0  0  0  0  0  0  0  0\n"
      "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0\n"
      "    0.0000    0.0000    0.0000 Cl  0  0  0  0  0  0  0\n"
      "    0.0000    0.0000    0.0000 O   0  0  0  0  0  0  0\n"
      "  1  2  1  0  0  0  0\n  1  3  2  0  0  0  0\nM  END\n$$$$\n";
  std::string hand = text;
  hand.replace(0, 1, "x");
  const Space space = Space::read(Source{"f.sdf", Format::sd, std::string_view(text + hand)});
  ASSERT_EQ(space.size(), 2);
  EXPECT_EQ(space.name(), "f.sdf");
  const SpaceFragment f = space.fragment(1);
  EXPECT_EQ(f.id, 9);
  EXPECT_EQ(f.atoms, (std::vector<std::string_view>{"C", "Cl", "O"}));
  ASSERT_EQ(f.bonds.size(), 2u);
  EXPECT_EQ(f.bonds[1].a, 0);
  EXPECT_EQ(f.bonds[1].b, 2);
  EXPECT_EQ(f.bonds[1].type, "2");
  EXPECT_EQ(space.fragment(2).id, 2);
  std::string renamed = hand;
  renamed.replace(0, 1, "2");
  EXPECT_EQ(written(space), text + renamed);
}

// Every shortened copy of a space's bytes, and every copy with one byte
// changed, is refused or gives a space that writes and counts without
// failing an assertion (the sanitizer builds check the memory).
TEST(Space, BytesThatHoldNoSpaceAreRefused) {
  const std::string input =
      "a\n\n\n  3  2  0  0  0  0  0  0  0  0  0\n"
      "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0\n"
      "    0.0000    0.0000    0.0000 N   0  0  0  0  0  0  0\n"
      "    0.0000    0.0000    0.0000 O   0  0  0  0  0  0  0\n"
      "  1  2  1  0\n  2  3  2  0\nM  END\n$$$$\n";
  Settings s;
  s.maxt = 2;
  std::optional<Space> made;
  Sinks sinks;
  sinks.space = [&made](Space sp) { made = std::move(sp); };
  const Source source{"a.sdf", Format::sd, std::string_view(input)};
  run(s, source, nullptr, sinks);
  ASSERT_TRUE(made.has_value());
  const std::string bytes = made->bytes();
  for (std::size_t n = 0; n < bytes.size(); ++n)
    EXPECT_THROW(Space::from_bytes(std::string_view(bytes).substr(0, n)), Error) << n;
  int refused = 0;
  for (std::size_t at = 0; at < bytes.size(); ++at)
    for (const unsigned char flip : {0x01, 0x80, 0xFF}) {
      std::string changed = bytes;
      changed[at] = static_cast<char>(static_cast<unsigned char>(changed[at]) ^ flip);
      try {
        const Space space = Space::from_bytes(changed);
        written(space);
        for (int d = 1; d <= space.size(); ++d) space.fragment(d);
        run(s, source, space, Sinks{});
      } catch (const Error&) {
        ++refused;
      }
    }
  EXPECT_GT(refused, 0);
}
