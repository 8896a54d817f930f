#include "host/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

namespace tiko::host {
namespace {


namespace fs = std::filesystem;

std::string Reason(int error) { return std::strerror(error); }

// The folder a path's file lies in, "." for a bare name.
std::string FolderOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

// A numbered name taken apart: what comes before the number, its least
// count of digits, and what comes after ("%%" already made "%").
struct NumberedParts {
  std::string before;
  size_t digits = 1;
  std::string after;
};

NumberedParts PartsOf(const std::string& name) {
  NumberedParts parts;
  std::string* text = &parts.before;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '%') {
      text->push_back(name[i]);
    } else if (i + 1 < name.size() && name[i + 1] == '%') {
      text->push_back('%');
      ++i;
    } else {
      size_t width = 0;
      while (++i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]))) {
        width = width * 10 + static_cast<size_t>(name[i] - '0');
      }
      parts.digits = std::max<size_t>(width, 1);
      text = &parts.after;
    }
  }
  return parts;
}

// Whether the numbered name can give `name`: the numbers count from 0, so
// never a sign, and at least the name's width of digits.
bool Names(const NumberedParts& parts, const std::string& name) {
  if (name.size() < parts.before.size() + parts.digits + parts.after.size()) return false;
  if (name.compare(0, parts.before.size(), parts.before) != 0) return false;
  if (name.compare(name.size() - parts.after.size(), parts.after.size(), parts.after) != 0) return false;
  for (size_t i = parts.before.size(); i < name.size() - parts.after.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

// The hidden names of pending files on file systems without unnamed files,
// kept where a signal handler can remove them: fixed buffers, no allocation.
constexpr int kHiddenSlots = 64;
constexpr size_t kHiddenNameBytes = 4096;
char gHiddenNames[kHiddenSlots][kHiddenNameBytes];
std::atomic<bool> gHiddenUsed[kHiddenSlots];

int ClaimHiddenSlot(const std::string& name) {
  if (name.size() >= kHiddenNameBytes) return -1;
  for (int slot = 0; slot < kHiddenSlots; ++slot) {
    if (gHiddenUsed[slot].load()) continue;
    std::memcpy(gHiddenNames[slot], name.c_str(), name.size() + 1);
    gHiddenUsed[slot].store(true);
    return slot;
  }
  return -1;
}

void ReleaseHiddenSlot(int slot) {
  if (slot >= 0) gHiddenUsed[slot].store(false);
}

}  // namespace

// The existing files that a numbered name can give.
std::vector<std::string> NumberedFiles(const std::string& pattern) {
  std::vector<std::string> found;
  const NumberedParts parts = PartsOf(fs::path(pattern).filename().string());
  std::error_code failed;
  const fs::path folder = FolderOf(pattern);
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, failed)) {
    const std::string name = entry.path().filename().string();
    if (Names(parts, name)) found.push_back((folder / name).string());
  }
  return found;
}

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity id;
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    id.exists = true;
    id.device = static_cast<uint64_t>(info.st_dev);
    id.inode = static_cast<uint64_t>(info.st_ino);
    return id;
  }
  // A dangling symbolic link is written through to its target.
  std::error_code ignored;
  id.resolved = fs::weakly_canonical(fs::absolute(path, ignored), ignored).string();
  return id;
}

bool SameFile(const std::string& a, const std::string& b) { return IdentityOf(a) == IdentityOf(b); }

void CheckWritable(const std::string& path) {
  const std::string folder = FolderOf(path);
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw FileError("cannot write " + path + ": it is a folder");
  }
  if (::stat(folder.c_str(), &info) != 0) throw FileError("cannot write " + path + ": " + Reason(errno));
  if (!S_ISDIR(info.st_mode)) throw FileError("cannot write " + path + ": " + Reason(ENOTDIR));
  if (::access(folder.c_str(), W_OK | X_OK) != 0) throw FileError("cannot write " + path + ": " + Reason(errno));
}

void RefuseSameFiles(const std::vector<FileRole>& reads, const std::vector<FileRole>& writes) {
  const auto same = [](const FileRole& w, const FileRole& other) {
    return SameFileError(w.role + ": " + w.path + " is the same file as " + other.role + " " + other.path +
                         "; choose another name");
  };
  // Each path is looked up once: an unpack names thousands of files.
  const auto identities = [](const std::vector<FileRole>& roles) {
    std::vector<FileIdentity> ids;
    ids.reserve(roles.size());
    for (const FileRole& role : roles) ids.push_back(IdentityOf(role.path));
    return ids;
  };
  const std::vector<FileIdentity> readIds = identities(reads);
  const std::vector<FileIdentity> writtenIds = identities(writes);
  for (size_t i = 0; i < writes.size(); ++i) {
    for (size_t r = 0; r < reads.size(); ++r) {
      if (readIds[r] == writtenIds[i]) throw same(writes[i], reads[r]);
    }
    for (size_t j = 0; j < i; ++j) {
      if (writtenIds[j] == writtenIds[i]) throw same(writes[i], writes[j]);
    }
  }
}

bool IsNumberedName(const std::string& name) {
  int conversions = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] != '%') continue;
    if (++i < name.size() && name[i] == '%') continue;
    if (i < name.size() && name[i] == '0') {
      while (++i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]))) {
      }
    }
    if (i >= name.size() || name[i] != 'd') return false;
    ++conversions;
  }
  return conversions == 1;
}

std::string NumberedName(const std::string& pattern, int64_t number) {
  // The pattern was checked to hold exactly one integer conversion.
  const int size = std::snprintf(nullptr, 0, pattern.c_str(), static_cast<int>(number));
  std::string name(static_cast<size_t>(std::max(size, 0)) + 1, '\0');
  std::snprintf(name.data(), name.size(), pattern.c_str(), static_cast<int>(number));
  name.resize(static_cast<size_t>(std::max(size, 0)));
  return name;
}


PendingFile PendingFile::Create(const std::string& path) {
  CheckWritable(path);
  PendingFile file;
  file.path_ = path;
  const std::string folder = FolderOf(path);
  file.fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (file.fd_ >= 0) {
    file.writePath_ = "/proc/self/fd/" + std::to_string(file.fd_);
    // The unnamed file can be opened again through /proc only where /proc is.
    if (::access(file.writePath_.c_str(), W_OK) == 0) return file;
    ::close(file.fd_);
    file.fd_ = -1;
  }
  const fs::path p(path);
  file.writePath_ = (p.parent_path() / ("." + p.filename().string() + ".part")).string();
  const int fd = ::open(file.writePath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw FileError("cannot write " + path + ": " + Reason(errno));
  ::close(fd);
  // From here on the hidden file goes with this object; the signals remove
  // it too while there is room to note it.
  file.hidden_ = true;
  file.slot_ = ClaimHiddenSlot(file.writePath_);
  return file;
}

PendingFile::PendingFile(PendingFile&& other) noexcept { *this = std::move(other); }

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
  if (this != &other) {
    Discard();
    path_ = std::move(other.path_);
    writePath_ = std::move(other.writePath_);
    fd_ = std::exchange(other.fd_, -1);
    hidden_ = std::exchange(other.hidden_, false);
    slot_ = std::exchange(other.slot_, -1);
    committed_ = std::exchange(other.committed_, false);
    other.writePath_.clear();
  }
  return *this;
}

PendingFile::~PendingFile() { Discard(); }

void PendingFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (hidden_ && !committed_) ::unlink(writePath_.c_str());
  hidden_ = false;
  ReleaseHiddenSlot(slot_);
  slot_ = -1;
}

void PendingFile::Commit() {
  if (committed_) return;
  if (fd_ >= 0) {
    // An unnamed file can only be linked to a name that is free: link it
    // under a hidden name and rename that over the destination, which
    // replaces an older file in one step.
    const fs::path p(path_);
    const std::string hidden = (p.parent_path() / ("." + p.filename().string() + ".part")).string();
    ::unlink(hidden.c_str());
    const int slot = ClaimHiddenSlot(hidden);
    if (::linkat(AT_FDCWD, writePath_.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      const int error = errno;
      ReleaseHiddenSlot(slot);
      throw FileError("cannot write " + path_ + ": " + Reason(error));
    }
    if (::rename(hidden.c_str(), path_.c_str()) != 0) {
      const int error = errno;
      ::unlink(hidden.c_str());
      ReleaseHiddenSlot(slot);
      throw FileError("cannot write " + path_ + ": " + Reason(error));
    }
    ReleaseHiddenSlot(slot);
    ::close(fd_);
    fd_ = -1;
  } else if (::rename(writePath_.c_str(), path_.c_str()) != 0) {
    throw FileError("cannot write " + path_ + ": " + Reason(errno));
  }
  committed_ = true;
  Discard();
}

void WriteBytes(const PendingFile& file, const std::vector<uint8_t>& bytes) {
  std::FILE* out = std::fopen(file.writePath().c_str(), "wb");
  if (out == nullptr) throw FileError("cannot write " + file.path() + ": " + Reason(errno));
  const size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), out);
  const int error = written == bytes.size() ? 0 : errno;
  if (std::fclose(out) != 0 || error != 0) {
    throw FileError("cannot write " + file.path() + ": " + Reason(error != 0 ? error : errno));
  }
}

void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
  PendingFile file = PendingFile::Create(path);
  WriteBytes(file, bytes);
  file.Commit();
}

void RemovePendingFilesNow() {
  for (int slot = 0; slot < kHiddenSlots; ++slot) {
    if (gHiddenUsed[slot].load()) ::unlink(gHiddenNames[slot]);
  }
}

}  // namespace tiko::host
