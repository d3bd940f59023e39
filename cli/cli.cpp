// The program around a run: what belongs to the process (standard streams,
// signals, the terminal's progress line), the run's outputs as files, and the
// texts and statuses of its ends.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "cli/command_line.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace sarvik {

namespace {

// Set by a stop signal (or console event); read by the run as its cancel flag.
std::atomic<bool> stop_requested{false};
// The signal that stopped the run (0: none yet).
volatile std::sig_atomic_t stop_signal = 0;

// A standard stream started closed would lend its descriptor to an output
// file, and progress lines would land in that file: closed ones get /dev/null.
void guard_standard_descriptors() {
#ifndef _WIN32
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
#endif
}

#ifdef _WIN32
// Console control events (Ctrl-C, Ctrl-Break, a closed console window) reach
// this handler on a thread of their own. It asks the run to stop; the main
// thread removes the temporaries and ends the process as the console's default
// handler would, with status STATUS_CONTROL_C_EXIT. For a closed window the
// system ends the process once the handler returns, so it waits for that.
std::atomic<bool> cleaned_up{false};
BOOL WINAPI on_console_event(DWORD event) {
  stop_signal = SIGINT;
  stop_requested.store(true);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    for (int k = 0; k < 500 && !cleaned_up.load(); ++k) Sleep(10);
  return TRUE;
}

void install_stop_handlers() { SetConsoleCtrlHandler(on_console_event, TRUE); }

[[noreturn]] void end_stopped() {
  cleaned_up.store(true);
  std::fflush(stdout);
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  for (;;) Sleep(1000);
}
#else
extern "C" void on_stop_signal(int sig) {
  if (stop_signal == 0) stop_signal = sig;
  stop_requested.store(true);
}

// SIGINT, SIGTERM, SIGHUP and SIGPIPE stop the run. A signal the caller has
// ignored (a background job's SIGINT, SIGHUP under nohup) stays ignored. A
// closed terminal or a reader of standard output that went away ends the run
// like an interrupt.
void install_stop_handlers() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    struct sigaction before {};
    sigaction(sig, nullptr, &before);
    if (before.sa_handler != SIG_IGN) sigaction(sig, &action, nullptr);
  }
}

// Ends the process by the signal that stopped the run, so that the caller sees
// how the run ended.
[[noreturn]] void end_stopped() {
  const int sig = stop_signal;
  std::fflush(stdout);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
  _exit(128 + sig);
}
#endif

bool stderr_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

// A line on standard error, when that is a terminal, showing how far the
// current length has come; redrawn a few times a second and erased before each
// line of standard output. Standard output keeps exactly its lines.
struct LiveProgress {
  std::size_t width = 0;  // characters of the line now shown
  std::chrono::steady_clock::time_point last{};

  void show(const Progress& p) {
    const auto now = std::chrono::steady_clock::now();
    if (now - last < std::chrono::milliseconds(250)) return;
    last = now;
    char text[160];
    const int n = p.length == 0
                      ? std::snprintf(text, sizeof text,
                                      "all lengths: %d of %d compounds, %lld descriptors met",
                                      p.done, p.total, p.fragments)
                      : std::snprintf(text, sizeof text, "length %d: %d of %d compounds, %lld fragments",
                                      p.length, p.done, p.total, p.fragments);
    const std::size_t len = n > 0 ? static_cast<std::size_t>(n) : 0;
    std::fprintf(stderr, "\r%s", text);
    for (std::size_t k = len; k < width; ++k) std::fputc(' ', stderr);
    width = std::max(width, len);
    std::fflush(stderr);
  }
  void erase() {
    if (width == 0) return;
    std::fputc('\r', stderr);
    for (std::size_t k = 0; k < width; ++k) std::fputc(' ', stderr);
    std::fputc('\r', stderr);
    std::fflush(stderr);
    width = 0;
  }
};

// Lines on standard error, when that is no terminal (a log, a batch job),
// telling how far a long run has come: the first after `interval`, then one
// each interval; a shorter run prints none. A thread of its own prints them
// from the run's latest progress, so that a compound that takes minutes does
// not silence them.
class ProgressLines {
 public:
  explicit ProgressLines(std::chrono::duration<double> interval)
      : start_(std::chrono::steady_clock::now()), interval_(interval) {
    thread_ = std::thread([this] { tick(); });
  }
  ~ProgressLines() {
    {
      std::lock_guard<std::mutex> lk(m_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  ProgressLines(const ProgressLines&) = delete;
  ProgressLines& operator=(const ProgressLines&) = delete;

  // The run's latest progress (called often, from the run's thread).
  void report(const Progress& p) {
    length_.store(p.length, std::memory_order_relaxed);
    done_.store(p.done, std::memory_order_relaxed);
    total_.store(p.total, std::memory_order_relaxed);
    fragments_.store(p.fragments, std::memory_order_relaxed);
    reported_.store(true, std::memory_order_relaxed);
  }

 private:
  void tick() {
    std::unique_lock<std::mutex> lk(m_);
    for (auto next = start_ + interval_;; next += interval_) {
      if (cv_.wait_until(lk, std::chrono::time_point_cast<std::chrono::steady_clock::duration>(next),
                         [this] { return stop_; }))
        return;
      const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                    std::chrono::steady_clock::now() - start_)
                                    .count();
      char text[200];
      if (!reported_.load(std::memory_order_relaxed))
        std::snprintf(text, sizeof text, "Sarvik progress: %lld s, reading the input\n", seconds);
      else if (length_.load(std::memory_order_relaxed) == 0)
        std::snprintf(text, sizeof text,
                      "Sarvik progress: %lld s, all lengths, %d of %d compounds, %lld descriptors met\n",
                      seconds, done_.load(std::memory_order_relaxed),
                      total_.load(std::memory_order_relaxed),
                      fragments_.load(std::memory_order_relaxed));
      else
        std::snprintf(text, sizeof text,
                      "Sarvik progress: %lld s, length %d, %d of %d compounds, %lld fragments\n",
                      seconds, length_.load(std::memory_order_relaxed),
                      done_.load(std::memory_order_relaxed), total_.load(std::memory_order_relaxed),
                      fragments_.load(std::memory_order_relaxed));
      std::fputs(text, stderr);
      std::fflush(stderr);
    }
  }

  std::chrono::steady_clock::time_point start_;
  std::chrono::duration<double> interval_;
  std::atomic<int> length_{0}, done_{0}, total_{0};
  std::atomic<long long> fragments_{0};
  std::atomic<bool> reported_{false};
  std::mutex m_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::thread thread_;
};

// Seconds between progress lines on a standard error that is no terminal: 10,
// or SARVIK_PROGRESS_SECONDS (tests set it short).
double progress_interval() {
  const char* s = std::getenv("SARVIK_PROGRESS_SECONDS");
  if (s == nullptr || *s == '\0') return 10;
  const double v = std::atof(s);
  return v > 0 ? v : 10;
}
#ifdef SARVIK_TEST_HOOKS
// The test build's hook: SARVIK_COMMIT_PAUSE=<step>:<milliseconds> pauses the
// commit at that step, so that a test can stop or kill the run there.
void pause_in_commit(OutputPair& files) {
  const char* text = std::getenv("SARVIK_COMMIT_PAUSE");
  if (text == nullptr) return;
  const int at = std::atoi(text);
  const char* colon = std::strchr(text, ':');
  const int ms = colon != nullptr ? std::atoi(colon + 1) : 0;
  files.on_commit_step([at, ms](int step) {
    if (step == at) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  });
}
#endif

// The message of running out of memory, as it always read.
constexpr const char* kOutOfMemory = "utils:22: not enough memory\n";

}  // namespace

int cli_main(int argc, char** argv) {
  guard_standard_descriptors();
  // Progress lines reach a file or pipe as they are printed, not at the end.
#ifdef _WIN32
  // The Windows C library buffers _IOLBF streams fully.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
#endif
  CommandLine cl;
  try {
    switch (parse_command_line(argc, argv, cl)) {
      case Request::help:
        std::fputs(usage_text().c_str(), stdout);
        return 0;
      case Request::version:
        std::printf("Sarvik %s\n", version());
        return 0;
      case Request::run:
        break;
    }
  } catch (const Error& e) {
    std::fputs(e.what(), stdout);
    return 2;
  } catch (const std::bad_alloc&) {
    std::fputs(kOutOfMemory, stderr);
    return 1;
  }
  const Settings& s = cl.settings;
#ifdef _WIN32
  std::printf("mint = %d,maxt = %d,freqt = %d,option = %s,opt = %d,outfile = %s,filestub = %s\n",
              s.mint, s.maxt, s.freqt, s.option.c_str(),
              s.option == "TF" ? 2 : s.option == "PF" ? 3 : 1, cl.outfile.c_str(),
              cl.filestub.c_str());
#endif
  install_stop_handlers();

  LiveProgress live;
  Sinks hooks;
  hooks.message = [&live](std::string_view line) {
    live.erase();
    std::fwrite(line.data(), 1, line.size(), stdout);
  };
  std::optional<ProgressLines> lines;
  if (stderr_is_terminal()) {
    hooks.progress = [&live](const Progress& p) { live.show(p); };
  } else {
    lines.emplace(std::chrono::duration<double>(progress_interval()));
    hooks.progress = [&lines](const Progress& p) { lines->report(p); };
  }
  hooks.warning = [&live](std::string_view line) {
    live.erase();
    std::fwrite(line.data(), 1, line.size(), stderr);
  };
  hooks.cancel = &stop_requested;
  int status = 0;
  try {
    const Source input{cl.filestub, cl.filetype, std::nullopt};
    std::optional<Source> space;
    if (!cl.dspace_file.empty()) space = Source{cl.dspace_file, cl.filetype, std::nullopt};
    // Both outputs are created before loading, so that a run that cannot write
    // its results says so at once. A run in an earlier run's descriptor space
    // writes no fragment file.
    OutputPair files(space ? std::string() : rules_file_name(cl), output_file_name(cl),
                     {cl.filestub}, cl.dspace_file);
#ifdef SARVIK_TEST_HOOKS
    pause_in_commit(files);
#endif
    run(s, input, space ? &*space : nullptr, files.sinks(hooks));
  } catch (const Error& e) {
    live.erase();
    if (e.kind() != ErrorKind::cancelled) std::fputs(e.what(), stdout);
    status = e.kind() == ErrorKind::usage ? 2 : 1;
  } catch (const std::bad_alloc&) {
    live.erase();
    std::fputs(kOutOfMemory, stderr);
    status = 1;
  }
  lines.reset();
  // A stop that came during the commit waited for it to complete.
  if (stop_signal != 0) end_stopped();
  std::fflush(stdout);
  return status;
}

}  // namespace sarvik
