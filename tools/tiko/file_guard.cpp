#include "file_guard.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "host/files.h"

namespace tiko::tool {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kShellSignalBase = 128;

// Read by every thread of a command; lock-free, so the handler may set it.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// A signal often comes twice at once: to the process and to its process
// group (as `timeout` and service managers send it). Within this long of the
// first it is the same request; later, a second one means "stop now".
constexpr int64_t kSameRequestNanoseconds = 500'000'000;
std::atomic<int64_t> gFirstSignalAt{0};
static_assert(std::atomic<int64_t>::is_always_lock_free);

int64_t MonotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);  // safe in a signal handler
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void OnStopSignal(int signal) {
  int none = 0;
  if (gStopSignal.compare_exchange_strong(none, signal)) {
    gFirstSignalAt.store(MonotonicNanoseconds());
    return;
  }
  if (MonotonicNanoseconds() - gFirstSignalAt.load() < kSameRequestNanoseconds) return;
  // A second request: nothing more is finished. Both calls are safe here.
  host::RemovePendingFilesNow();
  ::_exit(kShellSignalBase + signal);
}

}  // namespace

// ---- roles --------------------------------------------------------------------

void FileRoles::Reads(const std::string& option, const std::string& path) {
  if (!path.empty()) reads_.push_back(Role{option, path, false});
}

void FileRoles::ReadsNumbered(const std::string& option, const std::string& pattern) {
  for (const std::string& file : host::NumberedFiles(pattern)) reads_.push_back(Role{option, file, false});
}

void FileRoles::Writes(const std::string& option, const std::string& path) {
  if (!path.empty()) writes_.push_back(Role{option, path, false});
}

void FileRoles::WritesNumbered(const std::string& option, const std::string& pattern) {
  writes_.push_back(Role{option, pattern, true});
}

void FileRoles::Check() const {
  // A numbered output is checked against every existing file it could name.
  std::vector<host::FileRole> reads;
  std::vector<host::FileRole> written;
  for (const Role& r : reads_) reads.push_back({r.option, r.path});
  for (const Role& w : writes_) {
    if (!w.numbered) {
      written.push_back({w.option, w.path});
      continue;
    }
    for (const std::string& file : host::NumberedFiles(w.path)) written.push_back({w.option, file});
  }
  try {
    host::RefuseSameFiles(reads, written);
  } catch (const host::SameFileError& e) {
    throw UsageError(e.what());
  }
  for (const Role& w : writes_) host::CheckWritable(w.path);
}

// ---- stop signals -------------------------------------------------------------

StopSignals::StopSignals() {
  gStopSignal = 0;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  // Calls the signal interrupts go on, as they would without the handler.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &action, &previous_[i]);
}

StopSignals::~StopSignals() {
  for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &previous_[i], nullptr);
}

int StopSignals::Received() { return gStopSignal.load(); }

int StopSignals::ExitStatus() {
  const int signal = gStopSignal.load();
  return signal == 0 ? 0 : kShellSignalBase + signal;
}

const char* StopSignals::Name() {
  switch (gStopSignal.load()) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "no signal";
  }
}

}  // namespace tiko::tool
