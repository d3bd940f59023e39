// The work of a run on several threads. Per length, workers enumerate and
// canonicalise chunks of compounds, each with its own Workspace, and hand over
// per compound its fragments in the order it first met them; this thread enters
// them into the table in compound order, so fragment ids, slots and occurrence
// lists come out exactly as when one thread enters compound after compound. The
// fragment records of a length are written by another thread while the next
// length runs.
#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "run/run_detail.h"

namespace sarvik {

namespace {

constexpr const char* kModule = "parallel_length";

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
  std::exception_ptr failure;  // the chunk ends at the compound that failed
};

}  // namespace

// The workers, started at the first length that needs them and kept for the
// run, so that each keeps its Workspace from length to length.
struct Pool {
  std::mutex m;
  std::condition_variable work_cv;  // workers wait here for a chunk to take
  std::condition_variable done_cv;  // the entering thread waits here for a chunk
  int awaited = -1;                 // the chunk it waits for, -1 none
  bool stop = false;
  // A chunk failed: its worker's Workspace may be half updated (out of memory
  // in the middle of a table), and the run ends there, so no worker takes
  // another chunk. The chunks before it were taken already.
  bool failed = false;
  // The length in progress: a new job number starts it.
  unsigned job = 0;
  const std::vector<Graph>* G = nullptr;
  LengthContext cx;
  std::uint64_t epoch = 0;
  int next = 0;    // the next chunk a worker takes
  int merged = 0;  // chunks entered into the table
  int chunks = 0;
  int chunk_size = 1;  // compounds per chunk
  int window = 0;  // chunk c uses slot c % window
  std::vector<Chunk> slot;
  std::vector<Workspace> ws;  // per worker
  std::vector<std::thread> threads;

  ~Pool() {
    {
      std::lock_guard<std::mutex> lk(m);
      stop = true;
    }
    work_cv.notify_all();
    for (std::thread& t : threads) t.join();
  }
};

namespace {

void work(Pool& p, int k) {
  unsigned seen = 0;
  for (;;) {
    int c;
    {
      std::unique_lock<std::mutex> lk(p.m);
      p.work_cv.wait(lk, [&] {
        return p.stop || p.failed ||
               (p.job != seen && (p.next >= p.chunks || p.next < p.merged + p.window));
      });
      if (p.stop || p.failed) return;
      if (p.next >= p.chunks) {
        seen = p.job;  // this length has no chunk left to take
        continue;
      }
      c = p.next++;
    }
    Chunk& ch = p.slot[static_cast<std::size_t>(c % p.window)];
    ch.events.clear();
    ch.worker = k;
    ch.failure = nullptr;
    const std::vector<Graph>& G = *p.G;
    const int total = static_cast<int>(G.size());
    try {
      for (int i = c * p.chunk_size; i < total && i < (c + 1) * p.chunk_size; ++i) {
        check_cancel(p.cx.cancel);
        enumerate_compound_events(G[static_cast<std::size_t>(i)], p.cx, p.epoch, ch.events,
                                  p.ws[static_cast<std::size_t>(k)]);
      }
    } catch (...) {
      ch.failure = std::current_exception();
    }
    const bool failed = ch.failure != nullptr;
    bool wake;
    {
      std::lock_guard<std::mutex> lk(p.m);
      ch.done = true;
      wake = p.awaited == c;
      p.failed = p.failed || failed;
    }
    if (wake) p.done_cv.notify_one();
    if (failed) {
      p.work_cv.notify_all();
      return;
    }
  }
}

// Starts the run's workers.
std::unique_ptr<Pool> start_pool(int threads) {
  auto pool = std::make_unique<Pool>();
  pool->window = kChunksPerThread * threads;
  pool->slot.resize(static_cast<std::size_t>(pool->window));
  pool->ws.resize(static_cast<std::size_t>(threads));
  try {
    for (int k = 0; k < threads; ++k) pool->threads.emplace_back(work, std::ref(*pool), k);
  } catch (const std::system_error&) {
    // A thread that cannot start lacks memory for its stack; the pool's
    // destructor stops the workers started.
    throw std::bad_alloc();
  }
  return pool;
}

// The background writer's work: the records of one length to the fragment sink.
void write_records(Run& r, bool last) {
  const Sinks& sinks = *r.sinks;
  if (sinks.fragments)
    write_fragment_records(r.writer.records, r.ls, r.filetype, r.threads, sinks.fragments,
                           sinks.cancel);
  if (r.made) space_append(*r.made, r.writer.records);
  // The file is complete: its writing out overlaps the descriptor file's.
  if (last && sinks.fragments_complete) sinks.fragments_complete();
}

}  // namespace

void enter_compound_events(Run& r, const CompoundEvents& ev, std::size_t j, int i,
                           std::vector<int>& live) {
  std::size_t e = j == 0 ? 0 : ev.ends[j - 1];
  for (; e < ev.ends[j]; ++e) {
    const int h = ev.entries[e].handle;
    const std::uint64_t n = ev.entries[e].n;
    if (r.in_space) {
      count_occurrences(r.hashg, r.occ, h, i, n);
      continue;
    }
    int& l = live[static_cast<std::size_t>(h)];
    if (l >= 0) {
      count_occurrences(r.hashg, r.occ, l, i, n);
      continue;
    }
    const CompoundEvents::Form& f = ev.form_of[static_cast<std::size_t>(h - ev.first_handle)];
    l = hash_form(ev.forms.data() + f.at, f.width, f.key, r.hashg, r.occ, i);
    if (n > 1) count_occurrences(r.hashg, r.occ, l, i, n - 1);
  }
  csr_end_length(r.occ, i);
}

void enumerate_length_in_parallel(Run& r, const LengthContext& cx) {
  const int total = static_cast<int>(r.G.size());
  const int threads = r.threads;
  if (r.pool == nullptr) r.pool = start_pool(threads);
  Pool& p = *r.pool;
  SARVIK_ASSERT(static_cast<int>(p.threads.size()) == threads, kModule);
  {
    std::lock_guard<std::mutex> lk(p.m);
    p.G = &r.G;
    p.cx = cx;
    // Handles and cached results are a worker's own, for this length of this
    // table only.
    p.epoch = r.hashg.generation;
    p.next = 0;
    p.merged = 0;
    p.chunk_size = r.chunk > 0 ? r.chunk : std::clamp(total / (8 * threads), 1, kMaxChunkCompounds);
    p.chunks = (total + p.chunk_size - 1) / p.chunk_size;
    ++p.job;
  }
  p.work_cv.notify_all();

  // Per worker: handle -> live index, -1 before this thread first entered it.
  std::vector<std::vector<int>> live_of(static_cast<std::size_t>(threads));
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
    const std::size_t needed = static_cast<std::size_t>(ev.first_handle) + ev.form_of.size();
    if (live.size() < needed) live.resize(std::max(needed, 2 * live.size()), -1);
    const int first = c * p.chunk_size;
    for (std::size_t j = 0; j < ev.ends.size(); ++j) {
      const int i = first + static_cast<int>(j);
      enter_compound_events(r, ev, j, i, live);
      if (r.sinks->progress)
        r.sinks->progress(Progress{r.threshold, i + 1, total, r.in_space ? r.k : r.hashg.count});
    }
    if (ch.failure != nullptr) std::rethrow_exception(ch.failure);
    r.hashg.outside += ev.outside;
    {
      std::lock_guard<std::mutex> lk(p.m);
      ch.done = false;
      ++p.merged;
    }
    // Its slot is free for the chunk `window` places on.
    p.work_cv.notify_one();
  }
}

Run::Run() = default;
Run::~Run() = default;

RecordWriter::~RecordWriter() {
  if (thread.joinable()) thread.join();
}

void write_records_in_background(Run& r, bool last) {
  finish_background_records(r);
  // The records of the length before hand their buffer back to the table.
  sweep_length(r.hashg, SweepRule{r.settings.freqt, r.filetype, &r.ls}, r.k, r.map,
               r.writer.records);
  r.writer.failure = nullptr;
  try {
    r.writer.thread = std::thread([&r, last] {
      try {
        write_records(r, last);
      } catch (...) {
        r.writer.failure = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    throw std::bad_alloc();
  }
}

void finish_background_records(Run& r) {
  if (r.writer.thread.joinable()) r.writer.thread.join();
  std::string held;
  held.swap(r.held);
  if (r.writer.failure != nullptr) {
    const std::exception_ptr f = r.writer.failure;
    r.writer.failure = nullptr;
    std::rethrow_exception(f);
  }
  if (!held.empty() && r.sinks->message) r.sinks->message(held);
}

}  // namespace sarvik
