// A run over shards (sarvik/shard.h), made step by step in one process, writes
// what one run over the joined shards writes, byte for byte: fragment file and
// descriptor file, untitled compounds named by their place in the whole, over
// options that change ids and descriptors; and in an earlier run's space what
// that run's -dspace writes. A shard cut inside its last record and damaged
// facts are refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sarvik/shard.h"
#include "test_support.h"

using test_support::data_path;
using test_support::read_text;

namespace {

using namespace sarvik;

struct Outputs {
  std::string fragments, descriptors;
};

// The SD records (each with its "$$$$" line) or Mol2 molecules of a file.
std::vector<std::string> records_of(const std::string& text, Format format) {
  std::vector<std::string> out;
  const std::string mark = format == Format::sd ? "$$$$\n" : "@<TRIPOS>MOLECULE";
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t next = format == Format::sd ? text.find(mark, at) : text.find(mark, at + 1);
    next = next == std::string::npos ? text.size() : format == Format::sd ? next + mark.size() : next;
    out.push_back(text.substr(at, next - at));
    at = next;
  }
  return out;
}

Outputs one_run(const Settings& s, const Source& input, const Space* space) {
  Outputs out;
  Sinks sinks;
  sinks.fragments = [&out](std::string_view t) { out.fragments += t; };
  sinks.descriptors = [&out](std::string_view t) { out.descriptors += t; };
  if (space != nullptr)
    run(s, input, *space, sinks);
  else
    run(s, input, nullptr, sinks);
  return out;
}

// The four steps over the shards (in the space when given).
Outputs sharded(const Settings& s, const std::vector<Source>& shards, const Space* given) {
  std::vector<ShardLabels> first;
  for (const Source& shard : shards) first.push_back(shard_labels(s, shard));
  const std::vector<std::string> labels = merge_labels(first);
  Outputs out;
  Sinks sinks;
  sinks.descriptors = [&out](std::string_view t) { out.descriptors += t; };
  Settings counting = s;
  counting.freqt = 1;
  int before = 0;
  if (given != nullptr) {
    for (std::size_t k = 0; k < shards.size(); ++k) {
      count_shard(counting, shards[k], *given, ShardPlace{labels, before}, sinks);
      before += first[k].compounds;
    }
    return out;
  }
  ShardMerge merge(s, shards[0].format, labels, "joined");
  std::vector<std::string> places;
  for (const Source& shard : shards) places.push_back(merge.add(shard_fragments(s, shard, labels)));
  merge.finish().write([&out](std::string_view t) { out.fragments += t; });
  for (std::size_t k = 0; k < shards.size(); ++k) {
    count_shard(counting, shards[k], ShardPlace{labels, before}, merge.shard_ids(places[k]), sinks);
    before += first[k].compounds;
  }
  return out;
}

// The texts as shards held in memory.
std::vector<Source> as_shards(const std::vector<std::string>& parts, Format format) {
  std::vector<Source> out;
  for (std::size_t k = 0; k < parts.size(); ++k)
    out.push_back(Source{"shard" + std::to_string(k), format, std::string_view(parts[k])});
  return out;
}

// The records in runs of these sizes, and one of the rest.
std::vector<std::string> join_runs(const std::vector<std::string>& recs, const std::vector<int>& sizes) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  for (const int n : sizes) {
    std::string p;
    for (int j = 0; j < n; ++j) p += recs[at++];
    parts.push_back(p);
  }
  std::string rest;
  for (; at < recs.size(); ++at) rest += recs[at];
  parts.push_back(rest);
  return parts;
}

TEST(Shard, RunsOverShardsWriteTheJoinedRunsBytes) {
  for (const Format format : {Format::sd, Format::mol2}) {
    std::vector<std::string> recs =
        records_of(read_text(data_path(format == Format::sd ? "cdk2.sdf" : "cdk2.mol2")), format);
    // Untitled compounds in the second and last shard.
    for (const std::size_t k : {20u, 40u}) {
      const std::size_t title = format == Format::sd ? 0 : recs[k].find('\n') + 1;
      recs[k].erase(title, recs[k].find('\n', title) - title);
    }
    std::string joined;
    for (const std::string& r : recs) joined += r;
    const std::vector<std::string> parts = join_runs(recs, {15, 0, 1, 14});
    const std::vector<Source> shards = as_shards(parts, format);
    const Source whole{"joined", format, std::string_view(joined)};
    Settings s;
    for (const auto& [option, mint, maxt, freqt, atoms] :
         std::vector<std::tuple<std::string, int, int, int, int>>{
             {"QZ", 1, 7, 1, 0}, {"TF", 2, 6, 3, 1}, {"PF", 3, 9, 2, 0}}) {
      s.option = option;
      s.mint = mint;
      s.maxt = maxt;
      s.freqt = freqt;
      s.NoAtmLabels = format == Format::mol2 ? atoms : 0;
      const Outputs expected = one_run(s, whole, nullptr);
      const Outputs got = sharded(s, shards, nullptr);
      EXPECT_EQ(got.fragments, expected.fragments) << option;
      EXPECT_EQ(got.descriptors, expected.descriptors) << option;
      EXPECT_NE(got.descriptors.find("\"21\","), std::string::npos);
    }
    // In the space of a run over the first shard alone: the joined run's -dspace.
    s = Settings{};
    s.maxt = 5;
    std::string space_file;
    Sinks sinks;
    sinks.fragments = [&space_file](std::string_view t) { space_file += t; };
    run(s, shards[0], nullptr, sinks);
    const Space space = Space::read(Source{"space", format, std::string_view(space_file)});
    EXPECT_EQ(sharded(s, shards, &space).descriptors, one_run(s, whole, &space).descriptors);
  }
}

TEST(Shard, RefusesShardsCutShortAndDamagedFacts) {
  const std::string sd = read_text(data_path("cdk2.sdf"));
  Settings s;
  s.maxt = 3;
  for (const std::string& text : {sd.substr(0, sd.size() - 5), sd.substr(0, sd.size() - 1), std::string("\n")}) {
    try {
      shard_labels(s, Source{"part.sdf", Format::sd, std::string_view(text)});
      ADD_FAILURE() << "a shard cut short was taken";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("the shard 'part.sdf' does not end with a whole record"),
                std::string::npos)
          << e.what();
    }
  }
  const Source whole{"cdk2.sdf", Format::sd, std::string_view(sd)};
  const std::vector<std::string> labels = shard_labels(s, whole).atom_labels;
  const std::string facts = shard_fragments(s, whole, labels);
  std::string lengths = facts;
  lengths[0] = '\x7f';  // more lengths than the settings sweep
  for (const std::string& damaged : {facts.substr(0, facts.size() - 1), facts + "x", lengths}) {
    ShardMerge merge(s, Format::sd, labels, "joined");
    EXPECT_THROW(merge.add(damaged), Error);
  }
}

}  // namespace
