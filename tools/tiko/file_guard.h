// Keeping a command's outputs off its inputs, and its work stoppable.
//
// Every command says up front which files it reads and which it will write;
// FileRoles refuses a written file that is one of the read ones or another
// written one, however it is spelt (relative, absolute, through "..", a
// symbolic or a hard link), and a written path that cannot be written, all
// before any work starts. Outputs are then written as host::PendingFile, so
// that a failed or stopped command leaves nothing behind.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "commands.h"

namespace tiko::tool {

class FileRoles {
 public:
  // A file the command reads, named by `option` ("-i", "PACKAGE", ...).
  void Reads(const std::string& option, const std::string& path);
  // Every existing file that a numbered name (shot_%03d.png) reads.
  void ReadsNumbered(const std::string& option, const std::string& pattern);
  // A file the command will write.
  void Writes(const std::string& option, const std::string& path);
  // The files a numbered name (frame_%04d.png) will write: every existing
  // file of its folder that it can name counts as written.
  void WritesNumbered(const std::string& option, const std::string& pattern);

  // Throws UsageError when a written file is one that is read or written
  // elsewhere, and host::FileError when a written path cannot be written (no
  // such folder, no permission, a folder in its place).
  void Check() const;

 private:
  struct Role {
    std::string option;
    std::string path;
    bool numbered;
  };
  std::vector<Role> reads_;
  std::vector<Role> writes_;
};

// SIGINT, SIGTERM and SIGHUP ask a long command to stop while this lives: it
// finishes its output with what it has and exits with the shell's status for
// the signal (130, 143, 129). A second signal stops at once, leaving nothing.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The signal that asked to stop, or 0.
  static int Received();
  // The exit status for a command that stopped on Received(), 0 without one.
  static int ExitStatus();
  // "SIGINT", "SIGTERM" or "SIGHUP" for Received().
  static const char* Name();

 private:
  struct sigaction previous_[3];
};

}  // namespace tiko::tool
