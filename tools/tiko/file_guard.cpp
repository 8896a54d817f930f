#include "file_guard.h"

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

void OnStopSignal(int signal) {
  int none = 0;
  if (gStopSignal.compare_exchange_strong(none, signal)) return;
  // The second one: nothing more is finished. Both calls are safe here.
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
  std::vector<Role> written;
  for (const Role& w : writes_) {
    if (!w.numbered) {
      written.push_back(w);
      continue;
    }
    for (const std::string& file : host::NumberedFiles(w.path)) written.push_back(Role{w.option, file, false});
  }
  const auto same = [](const Role& w, const Role& other) {
    return UsageError(w.option + ": " + w.path + " is the same file as " + other.option + " " + other.path +
                      "; choose another name");
  };
  for (size_t i = 0; i < written.size(); ++i) {
    const std::string& path = written[i].path;
    for (const Role& r : reads_) {
      if (host::SameFile(r.path, path)) throw same(written[i], r);
    }
    for (size_t j = 0; j < i; ++j) {
      if (host::SameFile(written[j].path, path)) throw same(written[i], written[j]);
    }
  }
  for (const Role& w : writes_) host::CheckWritable(w.path);
}

// ---- stop signals -------------------------------------------------------------

StopSignals::StopSignals() {
  gStopSignal = 0;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
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
