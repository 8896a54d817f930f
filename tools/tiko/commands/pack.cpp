// tiko pack / tiko unpack: packages from PNG pictures and a JSON script, and
// back.
//
// Both commands first read what they are given and name every file they will
// write, refuse a written file that is one of their inputs or another output,
// and only then do the work. pack writes one file through a PendingFile;
// unpack makes all its files in memory first, so that a damaged package fails
// before anything is written, writes them all out of sight and names them
// together, and removes the folders it made when anything fails.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <set>

#include "anim/sound.h"
#include "codec/decoder.h"
#include "commands.h"
#include "file_guard.h"
#include "host/files.h"
#include "host/paths.h"
#include "host/rgba_png.h"
#include "image/layout.h"
#include "package/format.h"
#include "authoring/writer.h"
#include "pictures.h"
#include "script_json.h"
#include "step_names.h"

namespace tiko::tool {

using host::PendingFile;
using host::WriteFileAtomically;
using host::WriteBytes;
namespace {

namespace fs = std::filesystem;

// Steps name pictures by a signed 16-bit number.
constexpr size_t kMaxPictures = 32768;
constexpr const char* kScriptName = "package.json";
// Descriptors beside the pending files of an unpack: the standard streams,
// the files being read and written, what the libraries keep open.
constexpr size_t kSpareDescriptors = 64;

// Runs a command's body: its ToolError is the one line printed and gives the
// exit status.
int Guarded(const std::function<void()>& body) {
  try {
    body();
  } catch (const ToolError& e) {
    PrintError(e.what());
    return e.status();
  } catch (const std::bad_alloc&) {
    PrintError("out of memory");
    return kExitFailure;
  }
  return 0;
}

// ---- pack ---------------------------------------------------------------------

uint8_t LayoutCode(const std::string& name, const std::string& path) {
  if (name == "bgr24") return kFormatBgr24;
  if (name == "yuv422") return kFormatYuv422;
  if (name == "yuv420") return kFormatYuv420;
  throw JsonError(path, "unknown layout " + Quoted(name) + " (expected " + Choices({"bgr24", "yuv422", "yuv420"}) + ")");
}

uint8_t MaskCode(const std::string& name, const std::string& path) {
  if (name == "alpha") return kMaskByte;
  if (name == "bit") return kMaskBit;
  if (name == "none") return kMaskNone;
  throw JsonError(path, "unknown mask " + Quoted(name) + " (expected " + Choices({"alpha", "bit", "none"}) + ")");
}

const char* MaskWord(uint8_t kind) { return kind == kMaskByte ? "alpha" : (kind == kMaskBit ? "bit" : "none"); }

// A file the script names, with the JSON path that names it.
struct ScriptFile {
  std::string role;
  std::string path;
};

// Every picture and pixels file of the script, as far as it can be read
// before it is checked in full.
std::vector<ScriptFile> ScriptFiles(const Json& root, const fs::path& base) {
  std::vector<ScriptFile> files;
  if (!root.is_object() || !root.contains("pictures") || !root["pictures"].is_array()) return files;
  const Json& pictures = root["pictures"];
  for (size_t i = 0; i < pictures.size(); ++i) {
    if (!pictures[i].is_object()) continue;
    for (const char* key : {"file", "pixels"}) {
      if (pictures[i].contains(key) && pictures[i][key].is_string()) {
        files.push_back({"pictures[" + std::to_string(i) + "]." + key, (base / pictures[i][key].get<std::string>()).string()});
      }
    }
  }
  return files;
}

// The stored pixels that unpack kept beside the PNG, checked against the PNG:
// a PNG edited since would otherwise lose its edit without a word.
std::vector<uint8_t> StoredPixels(const std::string& raw, const std::string& png, const host::RgbaImage& rgba,
                                  uint8_t layout, uint8_t mask, uint8_t threshold, const std::string& path) {
  const std::string advice = " (delete it to pack the PNG's colours)";
  std::vector<uint8_t> stored;
  try {
    stored = ReadInput(raw);
  } catch (const ToolError& e) {
    throw JsonError(path, e.what());
  }
  const int64_t needed = PixelDataSize(layout, rgba.width, rgba.height);
  if (static_cast<int64_t>(stored.size()) != needed) {
    throw JsonError(path, raw + " no longer matches " + png + ": it holds " + std::to_string(stored.size()) +
                              " bytes, a " + std::to_string(rgba.width) + " x " + std::to_string(rgba.height) + " " +
                              PixelFormatName(layout) + " picture needs " + std::to_string(needed) + advice);
  }
  if (const auto at = FirstChangedPixel(rgba, stored, layout, mask, threshold)) {
    throw JsonError(path, raw + " no longer matches " + png + ": the pixel at " + std::to_string(at->x) + ", " +
                              std::to_string(at->y) + " has other colours" + advice);
  }
  return stored;
}

authoring::PictureDesc PackPicture(const Json& json, const std::string& path, const fs::path& base) {
  OnlyKeys(json, path, {"name", "file", "layout", "mask", "threshold", "compress", "pixels"});
  const std::string file = Text(Member(json, path, "file"), path + ".file");
  const uint8_t layout = json.contains("layout") ? LayoutCode(Text(json["layout"], path + ".layout"), path + ".layout")
                                                 : kFormatBgr24;
  const uint8_t mask = json.contains("mask") ? MaskCode(Text(json["mask"], path + ".mask"), path + ".mask")
                                             : kMaskByte;
  const auto threshold =
      static_cast<uint8_t>(json.contains("threshold") ? Integer(json["threshold"], path + ".threshold", 1, 255) : 128);
  bool compress = true;
  if (json.contains("compress")) {
    if (!json["compress"].is_boolean()) throw JsonError(path + ".compress", "expected true or false");
    compress = json["compress"].get<bool>();
  }

  const std::string png = (base / file).string();
  host::RgbaImage rgba;
  try {
    rgba = ReadPicturePng(png, layout, mask);
  } catch (const ToolError& e) {
    throw JsonError(path + ".file", e.what());
  }
  std::vector<uint8_t> stored;
  if (json.contains("pixels")) {
    // The exact stored pixels, so that a package in a YUV layout survives
    // the trip unchanged.
    const std::string raw = (base / Text(json["pixels"], path + ".pixels")).string();
    stored = StoredPixels(raw, png, rgba, layout, mask, threshold, path + ".pixels");
  }
  try {
    return PictureFromRgba(rgba, layout, mask, threshold, compress, json.contains("pixels") ? &stored : nullptr);
  } catch (const authoring::PackageError& e) {
    throw JsonError(path, e.what());
  } catch (const ToolError& e) {
    throw JsonError(path, e.what());
  }
}

authoring::ActorDesc PackActor(const Json& json, const std::string& path, const PictureNames& names) {
  OnlyKeys(json, path, {"name", "start", "steps"});
  authoring::ActorDesc actor;
  const auto name = host::Utf8ToUtf16(Text(Member(json, path, "name"), path + ".name"));
  if (!name || name->size() > kActorNameUnits) throw JsonError(path + ".name", "expected at most 12 characters");
  actor.name = *name;
  const Json& steps = Member(json, path, "steps");
  if (!steps.is_array()) throw JsonError(path + ".steps", "expected an array");
  const auto count = static_cast<int32_t>(std::min<size_t>(steps.size(), INT32_MAX));
  for (int32_t k = 0; k < count; ++k) {
    const std::string at = path + ".steps[" + std::to_string(k) + "]";
    actor.steps.push_back(StepFromJson(steps[static_cast<size_t>(k)], at, names, StepPlace{k, count}));
  }
  actor.initialStep = actor.steps.empty() ? -1 : 0;
  if (json.contains("start")) {
    const Json& start = json["start"];
    if (start.is_string() && start.get<std::string>() == "hidden") {
      actor.initialStep = -1;
    } else if (count == 0) {
      throw JsonError(path + ".start", "expected \"hidden\": the actor has no steps");
    } else {
      try {
        actor.initialStep = static_cast<int32_t>(Integer(start, path + ".start", 0, count - 1));
      } catch (const JsonError&) {
        throw JsonError(path + ".start", "expected \"hidden\" or a step index from 0 to " + std::to_string(count - 1));
      }
    }
  }
  return actor;
}

authoring::PackageDesc PackScript(const Json& root, const fs::path& base) {
  OnlyKeys(root, "(top)", {"pictures", "actors", "defaultPicture"});
  authoring::PackageDesc desc;
  PictureNames names;
  const Json& pictures = Member(root, "(top)", "pictures");
  if (!pictures.is_array()) throw JsonError("pictures", "expected an array");
  if (pictures.size() > kMaxPictures) {
    throw JsonError("pictures", "a package holds at most " + std::to_string(kMaxPictures) +
                                    " pictures (steps name them by the numbers 0 to " +
                                    std::to_string(kMaxPictures - 1) + ")");
  }
  for (size_t i = 0; i < pictures.size(); ++i) {
    const std::string path = "pictures[" + std::to_string(i) + "]";
    const std::string name = Text(Member(pictures[i], path, "name"), path + ".name");
    if (std::find(names.begin(), names.end(), name) != names.end()) {
      throw JsonError(path + ".name", "a picture named " + Quoted(name) + " comes earlier");
    }
    names.push_back(name);
  }
  for (size_t i = 0; i < pictures.size(); ++i) {
    desc.pictures.push_back(PackPicture(pictures[i], "pictures[" + std::to_string(i) + "]", base));
  }
  desc.defaultPicture = DefaultPictureFromJson(root.contains("defaultPicture") ? root["defaultPicture"] : Json(nullptr),
                                               "defaultPicture", names);
  const Json& actors = Member(root, "(top)", "actors");
  if (!actors.is_array()) throw JsonError("actors", "expected an array");
  for (size_t i = 0; i < actors.size(); ++i) {
    desc.actors.push_back(PackActor(actors[i], "actors[" + std::to_string(i) + "]", names));
  }
  return desc;
}

// The script, or one line with the line, column and cause of its first
// syntax error.
Json ParseScript(const std::vector<uint8_t>& bytes, const std::string& script) {
  const std::string text(bytes.begin(), bytes.end());
  try {
    return Json::parse(text);
  } catch (const Json::parse_error& e) {
    // The parser counts bytes from 1 and stops one past the byte at fault.
    const size_t at = std::min<size_t>(e.byte == 0 ? 0 : e.byte - 1, text.size());
    const size_t lineStart = at == 0 ? 0 : text.rfind('\n', at - 1) + 1;
    const size_t line = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<long>(at), '\n'));
    // Its message reads "[json...] parse error at line L, column C: cause";
    // the place is given here the way compilers give it.
    std::string cause = e.what();
    const size_t colon = cause.find(": ", cause.find("parse error"));
    if (colon != std::string::npos) cause = cause.substr(colon + 2);
    throw ToolError(script + ":" + std::to_string(line) + ":" + std::to_string(at - lineStart + 1) +
                    ": not valid JSON: " + cause);
  }
}

int RunPack(const std::string& script, const std::string& output) {
  return Guarded([&] {
    if (script.empty()) throw UsageError("SCRIPT: expected the JSON script to pack");
    if (output.empty()) throw UsageError("-o: expected the package file to write");
    const Json root = ParseScript(ReadInput(script), script);
    const fs::path base = fs::path(script).parent_path();
    FileRoles roles;
    roles.Reads("SCRIPT", script);
    for (const ScriptFile& file : ScriptFiles(root, base)) roles.Reads(file.role, file.path);
    roles.Writes("-o", output);
    roles.Check();
    std::vector<uint8_t> package;
    try {
      package = authoring::WritePackage(PackScript(root, base));
    } catch (const JsonError& e) {
      throw ToolError(script + ": " + e.what());
    } catch (const authoring::PackageError& e) {
      throw ToolError(script + ": " + e.what());
    }
    WriteFileAtomically(output, package);
  });
}

// ---- unpack -------------------------------------------------------------------

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
  if (picture.missing) throw ToolError(what + ": its data lie beyond the end of the file");
  if (!IsPixelFormat(e.pixelFormat) || !IsMaskKind(e.maskKind)) throw ToolError(what + ": unknown layout");
  if (PixelDataSize(e.pixelFormat, e.width, e.height) != e.pixelDataSize ||
      MaskDataSize(e.maskKind, e.width, e.height) != e.maskDataSize ||
      int64_t{e.pixelDataSize} + e.maskDataSize != e.totalSize) {
    throw ToolError(what + ": sizes disagree with its layout");
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
        if (!S_ISDIR(info.st_mode)) throw ToolError("cannot write " + dir + ": " + std::strerror(ENOTDIR));
        break;
      }
      if (errno != ENOENT) throw ToolError("cannot write " + dir + ": " + std::strerror(errno));
      missing.push_back(at.string());
      if (at == at.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      if (::mkdir(it->c_str(), 0777) != 0) throw ToolError("cannot write " + dir + ": " + std::strerror(errno));
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
  } catch (const ToolError&) {
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
      throw ToolError(what + ": its compressed block is damaged");
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
std::vector<UnpackedFile> Unpack(const authoring::PackageDesc& desc, const std::string& package,
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
    if (!name) throw ToolError(package + ": an actor's name is not valid UTF-16");
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

int RunUnpack(const std::string& package, const std::string& dir) {
  return Guarded([&] {
    if (package.empty()) throw UsageError("PACKAGE: expected the package file to unpack");
    if (dir.empty()) throw UsageError("-o: expected the folder to write into");
    authoring::PackageDesc desc;
    try {
      desc = authoring::ReadPackage(ReadInput(package));
    } catch (const authoring::PackageError& e) {
      throw ToolError(package + ": " + e.what());
    }
    for (size_t i = 0; i < desc.pictures.size(); ++i) {
      CheckPictureEntry(desc.pictures[i], package + ": picture " + std::to_string(i));
    }
    const std::vector<CueWave> waves = CueWaves(desc, package);

    FileRoles roles;
    roles.Reads("PACKAGE", package);
    for (const CueWave& wave : waves) roles.Reads(wave.role, wave.source);
    const auto output = [&](const std::string& name) { return (fs::path(dir) / name).string(); };
    for (size_t i = 0; i < desc.pictures.size(); ++i) {
      roles.Writes("-o", output(PictureName(i) + ".png"));
      const std::string raw = PixelsFileName(i, desc.pictures[i].entry.pixelFormat);
      if (!raw.empty()) roles.Writes("-o", output(raw));
    }
    roles.Writes("-o", output(kScriptName));
    for (const CueWave& wave : waves) roles.Writes("-o", output(wave.name));
    // The folder must be there for its files to be checked; it goes again
    // when the check fails.
    MadeFolders folders(dir);
    roles.Check();

    WriteAll(dir, Unpack(desc, package, waves));
    folders.Keep();
  });
}

}  // namespace

Runner AddPack(CLI::App& app) {
  auto* cmd = app.add_subcommand("pack", "Build a package from a JSON script and PNG pictures");
  auto script = std::make_shared<std::string>();
  auto output = std::make_shared<std::string>();
  // Required, but checked by the command itself, which says so in one line.
  cmd->add_option("SCRIPT", *script, "JSON script of the pictures and actors (required)");
  cmd->add_option("-o,--output", *output, "Package file to write (required)");
  return [script, output]() { return RunPack(*script, *output); };
}

Runner AddUnpack(CLI::App& app) {
  auto* cmd = app.add_subcommand("unpack", "Write a package's pictures as PNG, its script as JSON and its cue waves");
  auto package = std::make_shared<std::string>();
  auto dir = std::make_shared<std::string>();
  cmd->add_option("PACKAGE", *package, "Package file (required)");
  cmd->add_option("-o,--output", *dir, "Folder to write package.json, the pictures and the cue waves into (required)");
  return [package, dir]() { return RunUnpack(*package, *dir); };
}

}  // namespace tiko::tool
