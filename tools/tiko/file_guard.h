// Keeping a command's outputs off its inputs, and its unfinished outputs out
// of sight.
//
// Every command says up front which files it reads and which it will write;
// FileRoles refuses a written file that is one of the read ones or another
// written one, however it is spelt (relative, absolute, through "..", a
// symbolic or a hard link), and a written path that cannot be written, all
// before any work starts. PendingFile then writes each output where nobody
// sees it and gives it its name only when it is complete, so that a failed
// or stopped command leaves nothing behind.
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
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
  // elsewhere, and ToolError when a written path cannot be written (no such
  // folder, no permission, a folder in its place).
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

// Whether `a` and `b` name the same file, existing or to be created.
bool SameFile(const std::string& a, const std::string& b);

// Throws ToolError ("cannot write PATH: why") when `path` cannot be created
// or replaced.
void CheckWritable(const std::string& path);

// Whether `name` is a numbered file name: exactly one %d or %0Nd, and %% for
// a percent sign.
bool IsNumberedName(const std::string& name);
// The name for `number` from a numbered name.
std::string NumberedName(const std::string& pattern, int64_t number);

// An output file written out of sight: an unnamed file in the destination's
// folder where the file system has them (nothing can leave it behind, not
// even a killed process), else a hidden name beside the destination that the
// stop signals remove. Commit gives it its name, replacing what was there.
class PendingFile {
 public:
  // Throws ToolError naming `path` when its folder cannot take the file.
  static PendingFile Create(const std::string& path);

  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&& other) noexcept;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  // Not committed: the file goes.
  ~PendingFile();

  // The name to open while writing (the file may be opened again by it, for
  // reading too, while this object lives).
  const std::string& writePath() const { return writePath_; }
  const std::string& path() const { return path_; }
  // Gives the file its name. Throws ToolError.
  void Commit();

 private:
  PendingFile() = default;
  void Discard();

  std::string path_;
  std::string writePath_;
  int fd_ = -1;         // the unnamed file, or -1
  bool hidden_ = false;  // written under a hidden name instead
  int slot_ = -1;       // the hidden name's place among those the signals remove, or -1
  bool committed_ = false;
};

// Writes `bytes` into the pending file (not yet named). Throws ToolError.
void WriteBytes(const PendingFile& file, const std::vector<uint8_t>& bytes);

// Writes `bytes` to `path` through a PendingFile. Throws ToolError.
void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

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
