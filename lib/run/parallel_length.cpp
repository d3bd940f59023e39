// The work of a run on several threads. Per length, workers enumerate and
// canonicalise chunks of compounds, each with its own caches, and hand over per
// compound its fragments in the order it first met them; this thread enters them
// into the table in compound order, so fragment ids, slots and occurrence lists
// come out exactly as when one thread enters compound after compound. The
// fragment records of a length are written by another thread while the next
// length runs.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "run/run_detail.h"
#include "enumerate/tree_freq.h"
#include "table/table.h"

namespace {

// Compounds a worker takes at a time: up to enough that handing chunks over (a
// wake-up of the thread waiting for it) costs little beside their enumeration,
// and fewer in a small collection, so that every worker gets chunks.
constexpr int kMaxChunkCompounds = 256;
constexpr int kChunksPerThread = 2;  // chunks in flight per worker, which bounds memory

// Aligned to a cache line: each is written by its own worker.
struct alignas(64) Chunk {
  CompoundEvents events;
  int worker = 0;
  bool done = false;
  ThreadFailure failure;  // the chunk ends at the compound that failed
};

// The workers, started at the first length that needs them and kept for the run,
// so that each keeps its work areas from length to length.
struct Pool {
  std::mutex m;
  std::condition_variable work_cv;  // workers wait here for a chunk to take
  std::condition_variable done_cv;  // the entering thread waits here for a chunk
  int awaited = -1;                 // the chunk it waits for, -1 none
  bool stop = false;
  // The length in progress: a new job number starts it.
  unsigned job = 0;
  const std::vector<Graph>* G = nullptr;
  const DescriptorSpace* space = nullptr;
  std::uint64_t epoch = 0;
  int next = 0;    // the next chunk a worker takes
  int merged = 0;  // chunks entered into the table
  int chunks = 0;
  int chunk_size = 1;  // compounds per chunk
  int window = 0;  // chunk c uses slot c % window
  std::vector<Chunk> slot;
  std::vector<std::thread> threads;
};

// The run's pool, stopped by stop_background_threads.
std::unique_ptr<Pool> pool;

void work(Pool& p, int k) {
  fatal_errors_deferred = true;
  unsigned seen = 0;
  for (;;) {
    int c;
    {
      std::unique_lock<std::mutex> lk(p.m);
      p.work_cv.wait(lk, [&] {
        return p.stop || (p.job != seen && (p.next >= p.chunks || p.next < p.merged + p.window));
      });
      if (p.stop) return;
      if (p.next >= p.chunks) {
        seen = p.job;  // this length has no chunk left to take
        continue;
      }
      c = p.next++;
    }
    Chunk& ch = p.slot[static_cast<std::size_t>(c % p.window)];
    ch.events.clear();
    ch.worker = k;
    ch.failure = ThreadFailure{};
    const std::vector<Graph>& G = *p.G;
    const int total = static_cast<int>(G.size());
    for (int i = c * p.chunk_size; i < total && i < (c + 1) * p.chunk_size; ++i) {
      if (!ch.failure.run(
              [&] { enumerate_compound_events(G[i], ls, opt, p.space, p.epoch, ch.events); }))
        break;
    }
    bool wake;
    {
      std::lock_guard<std::mutex> lk(p.m);
      ch.done = true;
      wake = p.awaited == c;
    }
    if (wake) p.done_cv.notify_one();
  }
}

void stop_and_join(Pool& p) {
  {
    std::lock_guard<std::mutex> lk(p.m);
    p.stop = true;
  }
  p.work_cv.notify_all();
  for (std::thread& t : p.threads)
    if (t.joinable() && t.get_id() != std::this_thread::get_id()) t.join();
}

// Enters the canonical form stored at `at` in forms, for compound i.
int enter_form(const std::vector<int>& forms, std::size_t at, Graph& g, int& count,
               FragmentTable& hashg, int i) {
  const int* f = forms.data() + at;
  g.vs = f[0];
  g.es = f[1];
  g.key = static_cast<unsigned>(f[2]);
  f += 3;
  g.v.assign(f, f + g.vs + 1);
  f += g.vs + 1;
  g.vl.assign(f, f + g.vs);
  f += g.vs;
  g.e.assign(f, f + g.es);
  f += g.es;
  g.el.assign(f, f + g.es);
  return hash_graph(g, count, hashg, i);
}

// The background writer of fragment records.
struct RecordWriter {
  std::thread thread;
  FragmentRecords records;
  ThreadFailure failure;
};
RecordWriter writer;

void join_writer() {
  if (writer.thread.joinable()) writer.thread.join();
}

}  // namespace

void stop_background_threads() {
  if (pool != nullptr) {
    stop_and_join(*pool);
    pool.reset();
  }
  if (writer.thread.joinable() && writer.thread.get_id() != std::this_thread::get_id()) {
    writer.thread.join();
    // The run ends on another failure: the writer's own is not reported later.
    writer.failure = ThreadFailure{};
  }
}

void enumerate_length_in_parallel(const std::vector<Graph>& G, FragmentTable& hashg, int& count,
                                  const DescriptorSpace* space, int threads,
                                  const std::function<void(int done)>& progress) {
  const int total = static_cast<int>(G.size());
  if (pool == nullptr) {
    pool = std::make_unique<Pool>();
    pool->window = kChunksPerThread * threads;
    pool->slot.resize(static_cast<std::size_t>(pool->window));
    try {
      for (int k = 0; k < threads; ++k) pool->threads.emplace_back(work, std::ref(*pool), k);
    } catch (const std::system_error& e) {
      thread_start_failed(e.what());  // stops the workers started
    }
  }
  Pool& p = *pool;
  SARVIK_ASSERT(static_cast<int>(p.threads.size()) == threads, "parallel_length");
  {
    std::lock_guard<std::mutex> lk(p.m);
    p.G = &G;
    p.space = space;
    // Handles and cached results are a worker's own, for this length of this
    // table only.
    p.epoch = hashg.generation;
    p.next = 0;
    p.merged = 0;
    p.chunk_size = std::clamp(total / (8 * threads), 1, kMaxChunkCompounds);
    p.chunks = (total + p.chunk_size - 1) / p.chunk_size;
    ++p.job;
  }
  p.work_cv.notify_all();

  // Per worker: handle -> live index, -1 before this thread first entered it.
  std::vector<std::vector<int>> live_of(static_cast<std::size_t>(threads));
  Graph form;  // a handed-over form, grown to the largest
  for (int c = 0; c < p.chunks; ++c) {
    Chunk& ch = p.slot[static_cast<std::size_t>(c % p.window)];
    {
      std::unique_lock<std::mutex> lk(p.m);
      p.awaited = c;
      p.done_cv.wait(lk, [&] { return ch.done; });
      p.awaited = -1;
    }
    const CompoundEvents& ev = ch.events;
    std::vector<int>& live = live_of[static_cast<std::size_t>(ch.worker)];
    const std::size_t needed = static_cast<std::size_t>(ev.first_handle) + ev.form_at.size();
    if (live.size() < needed) live.resize(std::max(needed, 2 * live.size()), -1);
    std::size_t e = 0;
    const int first = c * p.chunk_size;
    for (std::size_t j = 0; j < ev.ends.size(); ++j) {
      const int i = first + static_cast<int>(j);
      for (; e < ev.ends[j]; ++e) {
        const int h = ev.entries[e].handle;
        const std::uint64_t n = ev.entries[e].n;
        if (space != nullptr) {
          count_occurrences(hashg, h, i, n);
          continue;
        }
        int& l = live[static_cast<std::size_t>(h)];
        if (l >= 0) {
          count_occurrences(hashg, l, i, n);
          continue;
        }
        l = enter_form(ev.forms, ev.form_at[static_cast<std::size_t>(h - ev.first_handle)], form,
                       count, hashg, i);
        if (n > 1) count_occurrences(hashg, l, i, n - 1);
      }
      // The compound's entries of the next length start behind all made so far.
      csrcount[i].offset = csrcount[i].size;
      progress(i + 1);
    }
    if (ch.failure.failed) ch.failure.end_run();
    hashg.outside += ev.outside;
    {
      std::lock_guard<std::mutex> lk(p.m);
      ch.done = false;
      ++p.merged;
    }
    // Its slot is free for the chunk `window` places on.
    p.work_cv.notify_one();
  }
}

void write_records_in_background(FragmentTable& hashg, int& k, FILE* fp, bool last) {
  finish_background_records();
  // The records of the length before hand their buffer back to the table.
  sweep_length(hashg, k, writer.records);
  writer.failure = ThreadFailure{};
  try {
    writer.thread = std::thread([fp, last] {
      fatal_errors_deferred = true;
      writer.failure.run([fp, last] {
        write_fragment_records(writer.records, ls, fp, threads);
        check_run_output(fp);
        // The file is complete: its writing out overlaps the descriptor file's.
        if (last) start_writing_back(fp);
      });
    });
  } catch (const std::system_error& e) {
    thread_start_failed(e.what());
  }
}

void finish_background_records() {
  join_writer();
  if (writer.failure.failed) {
    const ThreadFailure f = writer.failure;
    writer.failure = ThreadFailure{};
    f.end_run();
  }
}
