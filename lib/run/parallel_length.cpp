// The work of a run on several threads, handed out in chunks of compounds
// (run_chunks). Per length, workers enumerate and canonicalise chunks, each with
// its own Workspace, look the fragments they meet first up in a dictionary of
// forms they share, and hand over per compound its list in the order it first
// met the fragments; this thread gives the fragments new to the table their ids
// and slots in compound order, so fragment ids, slots and occurrence lists come
// out exactly as when one thread enters compound after compound. A length is
// swept, and its fragment records written, by another thread while the next
// length runs.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
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

// What a worker keeps through the chunks of one length: the form index and key
// of each of its handles, and per form index the compounds of its chunks that
// met it and its state: kNotMet, kHandedOver (met first in a chunk before, not
// in the compound in hand) or its entry in the list of the compound in hand.
struct SweepWorker {
  std::vector<std::pair<int, unsigned>> form_of;
  std::vector<std::int32_t> count[2];  // this length's and the one in the sweep
  std::vector<int> state;
  std::vector<CSR> list;  // the compound's list, by form index
};
constexpr int kNotMet = -1;
constexpr int kHandedOver = -2;

// What a worker makes of one chunk at a length for the merging thread: each
// compound's occurrence list by form index, encoded as the occurrence store
// spills it; and the form indices that the chunk meets and its worker has not
// handed over before, in the order the compounds first meet them, with their
// keys.
struct SweepChunk {
  CompoundEvents events;  // the enumeration's hand-over of the compound in hand
  std::vector<char> lists;
  std::vector<std::size_t> starts;  // per compound: its list's place in `lists`
  std::vector<std::pair<int, unsigned>> firsts;
};

// A fragment new to the table at a length: its slot, fragment id and form index.
struct NewFragment {
  int slot;
  int id;
  int form;
};

// A slot of the window of chunks in flight. Aligned to a cache line: each is
// written by its own worker.
struct alignas(64) ChunkSlot {
  int worker = 0;
  bool done = false;
  std::exception_ptr failure;  // what the chunk's task ended with
};

}  // namespace

// The workers, started at the first job that needs them and kept for the run,
// so that each keeps its Workspace from job to job.
struct Pool {
  std::mutex m;
  std::condition_variable work_cv;  // workers wait here for a chunk to take
  std::condition_variable done_cv;  // the merging thread waits here for a chunk
  int awaited = -1;                 // the chunk it waits for, -1 none
  bool stop = false;
  // A chunk failed, or the merging thread gave up: the run ends there, so no
  // worker takes another chunk (a failed worker's Workspace may be half
  // updated: out of memory in the middle of a table).
  bool failed = false;
  int busy = 0;                     // tasks running
  // The job in progress: a new job number starts it.
  unsigned job = 0;
  const ChunkTask* task = nullptr;
  int next = 0;    // the next chunk a worker takes
  int merged = 0;  // chunks merged
  int chunks = 0;
  int window = 0;  // chunk c uses slot c % window
  std::vector<ChunkSlot> slot;
  std::vector<Workspace> ws;  // per worker
  // The lengths of a sweep: the forms the workers met and their counts (two
  // of each: this length's, `parity`, and the one in the background sweep's,
  // whose records hold its forms until they are written), per worker what it
  // keeps, per slot its chunk; the fragment ids the merging thread gave (per
  // form index, 0 none) and the fragments of the length it entered, with
  // their form indices; and those of the length in the sweep.
  FormDictionary forms[2];
  int parity = 0;
  std::vector<SweepWorker> sweepers;
  std::vector<SweepChunk> chunks_made;
  std::vector<int> fid_of;
  std::vector<NewFragment> fresh;
  std::vector<NewFragment> swept;
  std::vector<SweptFragment> sweeping;  // the sweep's own
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
        seen = p.job;  // this job has no chunk left to take
        continue;
      }
      c = p.next++;
      ++p.busy;
    }
    const int at = c % p.window;
    ChunkSlot& ch = p.slot[static_cast<std::size_t>(at)];
    ch.worker = k;
    ch.failure = nullptr;
    try {
      (*p.task)(c, at, k, p.ws[static_cast<std::size_t>(k)]);
    } catch (...) {
      ch.failure = std::current_exception();
    }
    const bool failed = ch.failure != nullptr;
    bool wake;
    {
      std::lock_guard<std::mutex> lk(p.m);
      ch.done = true;
      --p.busy;
      wake = p.awaited == c || p.failed;
      p.failed = p.failed || failed;
    }
    if (wake) p.done_cv.notify_all();
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
  pool->chunks_made.resize(static_cast<std::size_t>(pool->window));
  pool->ws.resize(static_cast<std::size_t>(threads));
  pool->sweepers.resize(static_cast<std::size_t>(threads));
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

// Ends a job that the merging thread leaves early: no worker takes another
// chunk, and the tasks running (which may use what the caller is about to
// release) are waited for.
void abandon_job(Pool& p) {
  std::unique_lock<std::mutex> lk(p.m);
  p.failed = true;
  p.work_cv.notify_all();
  p.done_cv.wait(lk, [&] { return p.busy == 0; });
}

}  // namespace

int chunk_window(const Run& r) { return kChunksPerThread * r.threads; }

void run_chunks(Run& r, int chunks, const ChunkTask& task, const ChunkMerge& merge) {
  if (r.threads == 1) {
    // One thread: each chunk made and merged in turn, with the run's Workspace.
    for (int c = 0; c < chunks; ++c) {
      const int at = c % chunk_window(r);
      std::exception_ptr failure;
      try {
        task(c, at, 0, r.ws);
      } catch (...) {
        failure = std::current_exception();
      }
      merge(c, at, 0, failure);
      if (failure != nullptr) std::rethrow_exception(failure);
    }
    return;
  }
  if (r.pool == nullptr) r.pool = start_pool(r.threads);
  Pool& p = *r.pool;
  SARVIK_ASSERT(static_cast<int>(p.threads.size()) == r.threads, kModule);
  {
    std::lock_guard<std::mutex> lk(p.m);
    p.task = &task;
    p.next = 0;
    p.merged = 0;
    p.chunks = chunks;
    ++p.job;
  }
  p.work_cv.notify_all();
  try {
    for (int c = 0; c < chunks; ++c) {
      const int at = c % p.window;
      ChunkSlot& ch = p.slot[static_cast<std::size_t>(at)];
      {
        std::unique_lock<std::mutex> lk(p.m);
        p.awaited = c;
        p.done_cv.wait(lk, [&] { return ch.done; });
        p.awaited = -1;
      }
      merge(c, at, ch.worker, ch.failure);
      if (ch.failure != nullptr) std::rethrow_exception(ch.failure);
      {
        std::lock_guard<std::mutex> lk(p.m);
        ch.done = false;
        ++p.merged;
      }
      // Its slot is free for the chunk `window` places on.
      p.work_cv.notify_one();
    }
  } catch (...) {
    abandon_job(p);
    throw;
  }
}

namespace {

// Grows v to hold index i, new places `fill`.
template <class T>
void hold(std::vector<T>& v, std::size_t i, T fill) {
  if (v.size() <= i) v.resize(std::max(i + 1, 2 * v.size()), fill);
}

// Makes compound G's list at the length by form index, for the chunk: new
// handles are looked up in the shared forms; the compound's entries of one
// form (two handles may name one fragment) are one entry, where it first met
// the form. Affects output: the list's order, and the order of the forms met
// first, which gives fragment ids.
void make_list(Pool& p, SweepWorker& sw, SweepChunk& ch) {
  const CompoundEvents& ev = ch.events;
  FormDictionary& forms = p.forms[p.parity];
  std::vector<std::int32_t>& count = sw.count[p.parity];
  for (std::size_t f = 0; f < ev.form_of.size(); ++f) {
    const CompoundEvents::Form& form = ev.form_of[f];
    const std::size_t h = static_cast<std::size_t>(ev.first_handle) + f;
    hold(sw.form_of, h, std::pair<int, unsigned>(-1, 0));
    sw.form_of[h] = {form_index(forms, ev.forms.data() + form.at, form.width, form.key), form.key};
    const std::size_t x = static_cast<std::size_t>(sw.form_of[h].first);
    hold(sw.state, x, kNotMet);
    hold(count, x, 0);
  }
  sw.list.clear();
  for (const CompoundEvents::Entry& e : ev.entries) {
    const auto [i, key] = sw.form_of[static_cast<std::size_t>(e.handle)];
    const std::size_t x = static_cast<std::size_t>(i);
    int& at = sw.state[x];
    if (at >= 0) {
      sw.list[static_cast<std::size_t>(at)].freq += e.n;
      continue;
    }
    // A form this worker handed over in an earlier chunk has its fragment id
    // by the time this chunk is merged.
    if (at == kNotMet) ch.firsts.emplace_back(i, key);
    at = static_cast<int>(sw.list.size());
    sw.list.push_back(CSR{i, e.n});
    ++count[x];
  }
  for (const CSR& c : sw.list) sw.state[static_cast<std::size_t>(c.id)] = kHandedOver;
  ch.starts.push_back(ch.lists.size());
  csr_encode(sw.list.data(), sw.list.size(), ch.lists);
}

}  // namespace

void enumerate_length_in_parallel(Run& r, const LengthContext& cx) {
  const int total = static_cast<int>(r.G.size());
  const int threads = r.threads;
  if (r.pool == nullptr) r.pool = start_pool(threads);
  Pool& p = *r.pool;
  // Handles and cached results are a worker's own, for this length of this
  // table only.
  const std::uint64_t epoch = r.hashg.generation;
  for (SweepWorker& sw : p.sweepers) {
    sw.form_of.clear();
    std::fill(sw.state.begin(), sw.state.end(), kNotMet);
  }
  const int size = r.chunk > 0 ? r.chunk : std::clamp(total / (8 * threads), 1, kMaxChunkCompounds);
  const int chunks = (total + size - 1) / size;
  const ChunkTask task = [&](int c, int at, int k, Workspace& ws) {
    SweepChunk& ch = p.chunks_made[static_cast<std::size_t>(at)];
    ch.lists.clear();
    ch.starts.clear();
    ch.firsts.clear();
    SweepWorker& sw = p.sweepers[static_cast<std::size_t>(k)];
    for (int i = c * size; i < total && i < (c + 1) * size; ++i) {
      check_cancel(cx.cancel);
      ch.events.clear();
      enumerate_compound_events(r.G[static_cast<std::size_t>(i)], cx, epoch, ch.events, ws);
      make_list(p, sw, ch);
    }
  };
  const ChunkMerge merge = [&](int c, int at, int, const std::exception_ptr&) {
    const SweepChunk& ch = p.chunks_made[static_cast<std::size_t>(at)];
    // The compounds before a failing one are entered, as one thread would.
    csr_append_encoded(r.occ, std::string_view(ch.lists.data(), ch.lists.size()), ch.starts);
    // Affects output: fragment ids and slots in the order compounds first meet
    // the fragments.
    for (const auto& [i, key] : ch.firsts) {
      const std::size_t x = static_cast<std::size_t>(i);
      hold(p.fid_of, x, 0);
      if (p.fid_of[x] != 0) continue;
      const int slot = table_place_fragment(r.hashg, key);
      p.fid_of[x] = r.hashg.count;
      p.fresh.push_back(NewFragment{slot, r.hashg.count, i});
    }
    if (r.sinks->progress)
      r.sinks->progress(Progress{r.threshold, c * size + static_cast<int>(ch.starts.size()), total,
                                 r.hashg.count});
    // The length before, once swept, gets its progress line.
    report_sweep(r, false);
  };
  try {
    run_chunks(r, chunks, task, merge);
  } catch (...) {
    // A failure of the length before's sweep comes first, as on one thread;
    // else its line is printed before this failure ends the run.
    report_sweep(r, true);
    throw;
  }
}

Run::Run() = default;
Run::~Run() = default;

RecordWriter::~RecordWriter() {
  if (thread.joinable()) thread.join();
}

namespace {

std::string printed(const char* format, long long a, long long b = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// The sweep of the length the merging thread left (p.swept), with the counts
// and forms of `parity`.
void sweep_left(Run& r, int parity) {
  Pool& p = *r.pool;
  p.sweeping.clear();
  for (const NewFragment& n : p.swept) {
    SweptFragment f{n.slot, n.id, 0, nullptr, 0, 0};
    const std::size_t x = static_cast<std::size_t>(n.form);
    for (const SweepWorker& sw : p.sweepers)
      if (x < sw.count[parity].size()) f.count += sw.count[parity][x];
    f.form = form_at(p.forms[parity], n.form, &f.width, &f.key);
    p.sweeping.push_back(f);
  }
  sweep_fragments(p.sweeping, r.writer.ids, SweepRule{r.settings.freqt, r.filetype, &r.ls}, r.k,
                  r.map, r.writer.records);
}

}  // namespace

void report_sweep(Run& r, bool wait) {
  RecordWriter& w = r.writer;
  if (w.reported) return;
  {
    std::unique_lock<std::mutex> lk(w.m);
    if (!w.swept && !wait) return;
    w.swept_cv.wait(lk, [&w] { return w.swept; });
  }
  w.reported = true;
  if (w.sweep_failure != nullptr) std::rethrow_exception(w.sweep_failure);
  const auto say = [&r](const std::string& line) {
    if (r.writer.thread.joinable())
      r.held += line;
    else if (r.sinks->message)
      r.sinks->message(line);
  };
  say(printed("total upto this threshold = %lld,value of k = %lld\n", w.ids, r.k));
  if (w.length < r.settings.maxt) say(printed("threshold = %lld\n", w.length + 1LL));
}

void sweep_in_background(Run& r, bool last) {
  report_sweep(r, true);
  finish_background_records(r);
  Pool& p = *r.pool;
  // The length's lists name fragments by form index.
  r.occ.lengths.back().id_of = std::move(p.fid_of);
  p.fid_of.clear();
  p.swept.swap(p.fresh);
  p.fresh.clear();
  // The next length's forms and counts are those of the length before, whose
  // records are written.
  const int parity = p.parity;
  p.parity ^= 1;
  form_dictionary_clear(p.forms[p.parity]);
  for (SweepWorker& sw : p.sweepers) std::fill(sw.count[p.parity].begin(), sw.count[p.parity].end(), 0);
  table_next_length(r.hashg);
  RecordWriter& w = r.writer;
  w.length = r.threshold;
  w.ids = r.hashg.count;
  w.swept = false;
  w.reported = false;
  w.sweep_failure = nullptr;
  w.failure = nullptr;
  try {
    w.thread = std::thread([&r, parity, last] {
      RecordWriter& w = r.writer;
      std::exception_ptr failure;
      try {
        sweep_left(r, parity);
      } catch (...) {
        failure = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lk(w.m);
        w.sweep_failure = failure;
        w.swept = true;
      }
      w.swept_cv.notify_all();
      if (failure != nullptr) return;
      try {
        write_records(r, last);
      } catch (...) {
        w.failure = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    // A thread that cannot start lacks memory for its stack.
    w.swept = true;
    w.reported = true;
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
