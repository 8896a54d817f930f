#include "host/packages/unpack.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "anim/sound.h"
#include "authoring/writer.h"
#include "codec/decoder.h"
#include "host/packages/pictures.h"
#include "host/packages/script_json.h"
#include "host/packages/step_names.h"
#include "host/paths.h"
#include "image/layout.h"
#include "package/format.h"

namespace tiko::packages {
namespace {

namespace fs = std::filesystem;
using host::PendingFile;
using host::WriteBytes;

// Descriptors beside the pending files of an unpack: the standard streams,
// the files being read and written, what the libraries keep open.
constexpr size_t kSpareDescriptors = 64;

const char* MaskWord(uint8_t kind) { return kind == kMaskByte ? "alpha" : (kind == kMaskBit ? "bit" : "none"); }

// One-key objects such as {"set": 1500} read better on one line: folds
// "{\n<indent>"key": scalar\n<indent>}" into "{"key": scalar}".
std::string CompactJson(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '{' && i + 1 < text.size() && text[i + 1] == '\n') {
      const size_t keyStart = text.find_first_not_of(' ', i + 2);
      const size_t lineEnd = text.find('\n', keyStart);
      if (keyStart != std::string::npos && lineEnd != std::string::npos && text[keyStart] == '"') {
        const std::string member = text.substr(keyStart, lineEnd - keyStart);
        const size_t close = text.find_first_not_of(' ', lineEnd + 1);
        // A member whose value opens an object or array spans more lines.
        const bool scalar = !member.empty() && member.back() != '{' && member.back() != '[' && member.back() != ',';
        if (close != std::string::npos && text[close] == '}' && scalar) {
          out += "{" + member + "}";
          i = close + 1;
          continue;
        }
      }
    }
    out.push_back(text[i++]);
  }
  return out;
}

std::string PictureName(size_t i) { return "picture" + std::to_string(i); }

// The file that keeps a YUV picture's exact pixels (their colours do not come
// back exactly from the PNG's), or "" for a BGR24 picture.
std::string PixelsFileName(size_t i, uint8_t format) {
  return format == kFormatBgr24 ? "" : PictureName(i) + "." + PixelFormatName(format);
}

// Refuses a picture that unpack cannot turn into a PNG, before anything is
// written.
void CheckPictureEntry(const authoring::PictureDesc& picture, const std::string& what) {
  const PictureEntry& e = picture.entry;
  if (picture.missing) throw Error(what + ": its data lie beyond the end of the file");
  if (!IsPixelFormat(e.pixelFormat) || !IsMaskKind(e.maskKind)) throw Error(what + ": unknown layout");
  if (PixelDataSize(e.pixelFormat, e.width, e.height) != e.pixelDataSize ||
      MaskDataSize(e.maskKind, e.width, e.height) != e.maskDataSize ||
      int64_t{e.pixelDataSize} + e.maskDataSize != e.totalSize) {
    throw Error(what + ": sizes disagree with its layout");
  }
}

// A cue's wave file beside the package, with the step that names it first.
struct CueWave {
  std::string role;
  std::string source;
  std::string name;
};

// The wave files the package's cues play that lie beside it, found the way
// the player builds a cue's path from the package's. Cues whose wave is not
// there play nothing, so there is nothing to copy; a cue that leads into
// another folder is not the package's own.
std::vector<CueWave> CueWaves(const authoring::PackageDesc& desc, const std::string& package) {
  std::vector<CueWave> waves;
  const auto wide = host::Utf8ToUtf16(package);
  if (!wide || wide->size() >= kPathUnits) return waves;
  char16_t packagePath[kPathUnits] = {};
  std::copy(wide->begin(), wide->end(), packagePath);
  const size_t slash = package.find_last_of("/\\");
  const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
  std::set<std::string> seen;
  for (size_t i = 0; i < desc.actors.size(); ++i) {
    for (size_t k = 0; k < desc.actors[i].steps.size(); ++k) {
      const ActorStep& step = desc.actors[i].steps[k];
      char16_t cuePath[kSoundPathUnits];
      if (step.cueMarker != kCueMarker || !BuildSoundCuePath(packagePath, step.cueName, cuePath)) continue;
      const auto source = host::Utf16ToUtf8(cuePath);
      if (!source) continue;
      const std::string name = source->substr(nameAt);
      if (name.find_first_of("/\\") != std::string::npos || !seen.insert(name).second) continue;
      struct stat info {};
      if (::stat(source->c_str(), &info) != 0 && errno == ENOENT) continue;
      waves.push_back({"actors[" + std::to_string(i) + "].steps[" + std::to_string(k) + "].cue", *source, name});
    }
  }
  return waves;
}

// The folders an unpack makes for its output, removed again when it fails.
class MadeFolders {
 public:
  explicit MadeFolders(const std::string& dir) {
    std::vector<std::string> missing;
    fs::path at(dir);
    if (at.filename().empty()) at = at.parent_path();  // "out/" is "out"
    for (; !at.empty(); at = at.parent_path()) {
      struct stat info {};
      if (::stat(at.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) throw Error("cannot write " + dir + ": " + std::strerror(ENOTDIR));
        break;
      }
      if (errno != ENOENT) throw Error("cannot write " + dir + ": " + std::strerror(errno));
      missing.push_back(at.string());
      if (at == at.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      if (::mkdir(it->c_str(), 0777) != 0) throw Error("cannot write " + dir + ": " + std::strerror(errno));
      made_.push_back(*it);
    }
  }
  MadeFolders(const MadeFolders&) = delete;
  MadeFolders& operator=(const MadeFolders&) = delete;
  ~MadeFolders() {
    if (kept_) return;
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) ::rmdir(it->c_str());
  }
  void Keep() { kept_ = true; }

 private:
  std::vector<std::string> made_;
  bool kept_ = false;
};

struct UnpackedFile {
  std::string name;
  std::vector<uint8_t> bytes;
};

// Writes every file out of sight and names them only when all are complete,
// so that a write that fails (a full disk) leaves the folder as it was, older
// files of the same names included.
void WriteAll(const std::string& dir, const std::vector<UnpackedFile>& files) {
  // Each pending file holds a descriptor until it is named.
  rlimit descriptors{};
  if (::getrlimit(RLIMIT_NOFILE, &descriptors) == 0 && descriptors.rlim_cur < files.size() + kSpareDescriptors) {
    descriptors.rlim_cur = std::min<rlim_t>(descriptors.rlim_max, files.size() + kSpareDescriptors);
    ::setrlimit(RLIMIT_NOFILE, &descriptors);
  }
  std::vector<PendingFile> pending;
  for (const UnpackedFile& file : files) {
    const std::string path = (fs::path(dir) / file.name).string();
    pending.push_back(PendingFile::Create(path));
    WriteBytes(pending.back(), file.bytes);
  }
  // Naming is a rename in the same folder: should one still fail, the names
  // that were new go again; a file that was there holds its new content.
  std::vector<std::string> named;
  try {
    for (PendingFile& file : pending) {
      const bool existed = ::access(file.path().c_str(), F_OK) == 0;
      file.Commit();
      if (!existed) named.push_back(file.path());
    }
  } catch (const host::FileError&) {
    for (const std::string& path : named) ::unlink(path.c_str());
    throw;
  }
}

// Picture i as a PNG, and its pixels file for a YUV layout.
void UnpackPicture(const authoring::PictureDesc& picture, size_t i, const std::string& what,
                   std::vector<UnpackedFile>* files, Json* json) {
  const PictureEntry& e = picture.entry;
  std::vector<uint8_t> data(e.totalSize, 0);
  if (picture.compressed) {
    // Bytes a short block does not reach stay 0, as in the player.
    if (DecodeBlock(picture.stored.data(), static_cast<uint32_t>(picture.stored.size()), data.data(), e.totalSize) ==
        0) {
      throw Error(what + ": its compressed block is damaged");
    }
  } else {
    data = picture.stored;
  }
  const std::string png = PictureName(i) + ".png";
  files->push_back({png, EncodePng(RgbaFromPicture(data, e.pixelFormat, e.maskKind, e.width, e.height),
                                   e.maskKind != kMaskNone)});
  *json = Json{{"name", PictureName(i)}, {"file", png}, {"layout", PixelFormatName(e.pixelFormat)},
               {"mask", MaskWord(e.maskKind)}, {"compress", picture.compressed}};
  if (const std::string raw = PixelsFileName(i, e.pixelFormat); !raw.empty()) {
    files->push_back({raw, std::vector<uint8_t>(data.begin(), data.begin() + e.pixelDataSize)});
    (*json)["pixels"] = raw;
  }
}

// Everything unpack writes, made before any of it is written.
std::vector<UnpackedFile> UnpackFiles(const authoring::PackageDesc& desc, const std::string& package,
                                 const std::vector<CueWave>& waves) {
  std::vector<UnpackedFile> files;
  PictureNames names;
  for (size_t i = 0; i < desc.pictures.size(); ++i) names.push_back(PictureName(i));
  Json root;
  Json pictures = Json::array();
  for (size_t i = 0; i < desc.pictures.size(); ++i) {
    Json picture;
    UnpackPicture(desc.pictures[i], i, package + ": picture " + std::to_string(i), &files, &picture);
    pictures.push_back(std::move(picture));
  }
  root["pictures"] = std::move(pictures);
  root["defaultPicture"] = DefaultPictureToJson(desc.defaultPicture, names);
  Json actors = Json::array();
  for (const authoring::ActorDesc& a : desc.actors) {
    Json actor;
    const auto name = host::Utf16ToUtf8(a.name);
    if (!name) throw Error(package + ": an actor's name is not valid UTF-16");
    actor["name"] = *name;
    const auto count = static_cast<int32_t>(a.steps.size());
    if (a.initialStep >= 0 && a.initialStep < count) {
      actor["start"] = a.initialStep;
    } else {
      actor["start"] = "hidden";
    }
    Json steps = Json::array();
    for (int32_t k = 0; k < count; ++k) steps.push_back(StepToJson(a.steps[static_cast<size_t>(k)], names, {k, count}));
    actor["steps"] = std::move(steps);
    actors.push_back(std::move(actor));
  }
  root["actors"] = std::move(actors);
  const std::string text = CompactJson(root.dump(2)) + "\n";
  files.push_back({kScriptName, std::vector<uint8_t>(text.begin(), text.end())});
  for (const CueWave& wave : waves) files.push_back({wave.name, ReadInput(wave.source)});
  return files;
}

}  // namespace

void Unpack(const host::FileRole& packageFile, const host::FileRole& dirRole) {
  const std::string& package = packageFile.path;
  const std::string& dir = dirRole.path;
  authoring::PackageDesc desc;
  try {
    desc = authoring::ReadPackage(ReadInput(package));
  } catch (const authoring::PackageError& e) {
    throw Error(package + ": " + e.what());
  }
  for (size_t i = 0; i < desc.pictures.size(); ++i) {
    CheckPictureEntry(desc.pictures[i], package + ": picture " + std::to_string(i));
  }
  const std::vector<CueWave> waves = CueWaves(desc, package);

  std::vector<host::FileRole> reads{packageFile};
  for (const CueWave& wave : waves) reads.push_back({wave.role, wave.source});
  std::vector<host::FileRole> writes;
  const auto output = [&](const std::string& name) {
    writes.push_back({dirRole.role, (fs::path(dir) / name).string()});
  };
  for (size_t i = 0; i < desc.pictures.size(); ++i) {
    output(PictureName(i) + ".png");
    const std::string raw = PixelsFileName(i, desc.pictures[i].entry.pixelFormat);
    if (!raw.empty()) output(raw);
  }
  output(kScriptName);
  for (const CueWave& wave : waves) output(wave.name);
  // The folder must be there for its files to be checked; it goes again
  // when the check fails.
  MadeFolders folders(dir);
  host::RefuseSameFiles(reads, writes);
  for (const host::FileRole& file : writes) host::CheckWritable(file.path);

  WriteAll(dir, UnpackFiles(desc, package, waves));
  folders.Keep();
}

}  // namespace tiko::packages
