// Files written so that nobody ever sees half of one: an output is written
// unnamed in its folder and takes its name only when complete, replacing
// what was there in one step. And the identities of files, so that a program
// can tell two spellings of one file apart from two files.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tiko::host {

// A file that cannot be written, or read back: the whole message, naming it
// and the system's reason.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What makes two spellings of a path the same file: the device and inode of
// a file that exists, or the resolved folder and name of one that does not
// exist yet.
struct FileIdentity {
  bool exists = false;
  uint64_t device = 0;
  uint64_t inode = 0;
  std::string resolved;
  bool operator==(const FileIdentity& other) const {
    if (exists != other.exists) return false;
    return exists ? device == other.device && inode == other.inode : resolved == other.resolved;
  }
};
FileIdentity IdentityOf(const std::string& path);

// Whether `a` and `b` name the same file, existing or to be created.
bool SameFile(const std::string& a, const std::string& b);

// Throws FileError ("cannot write PATH: why") when `path` cannot be created
// or replaced.
void CheckWritable(const std::string& path);

// A file of a job by the part it plays: the option or argument that names
// it ("-o", "PACKAGE", "pictures[2].file") and its path.
struct FileRole {
  std::string role;
  std::string path;
};

// A job asked to write over one of its own files: "-o: PATH is the same file
// as SCRIPT OTHER; choose another name".
class SameFileError : public FileError {
 public:
  using FileError::FileError;
};

// Refuses a job before it starts: throws SameFileError when a written file is
// one that is read or another written one, however it is spelt (relative,
// absolute, through "..", a symbolic or a hard link).
void RefuseSameFiles(const std::vector<FileRole>& reads, const std::vector<FileRole>& writes);

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
  // Throws FileError naming `path` when its folder cannot take the file.
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
  // Gives the file its name. Throws FileError.
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

// Writes `bytes` into the pending file (not yet named). Throws FileError.
void WriteBytes(const PendingFile& file, const std::vector<uint8_t>& bytes);

// Writes `bytes` to `path` through a PendingFile. Throws FileError.
void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

// The existing files of its folder that a numbered name can give.
std::vector<std::string> NumberedFiles(const std::string& pattern);

// Removes every pending file that has a hidden name, at once; safe in a
// signal handler, for a program that must stop now.
void RemovePendingFilesNow();

}  // namespace tiko::host
