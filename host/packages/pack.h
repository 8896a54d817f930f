// Packages from a script (the JSON form that unpack writes) and pictures
// from PNG files or from memory: the one way every tool packs.
//
// A job first names every file it reads and the file it writes, refuses a
// written file that is one of its inputs, however it is spelt, and a path that
// cannot be written, and only then converts pictures; the package is written
// through a host::PendingFile, so that a failed job leaves nothing behind.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "authoring/writer.h"
#include "host/files.h"
#include "host/packages/script_json.h"
#include "host/rgba_png.h"

namespace tiko::packages {

// Pictures given in memory instead of their PNG files, by their place in the
// script's "pictures" (top-down RGBA rows). Such a picture needs no "file".
using PictureArrays = std::map<size_t, host::RgbaImage>;

// The script from the bytes of its file `name`. Throws Error with the line,
// column and cause of the first syntax error ("NAME:3:14: not valid JSON: ...").
Json ParseScript(const std::vector<uint8_t>& bytes, const std::string& name);

// Every picture and pixels file the script names (relative to `base`), with
// the JSON path that names it, as far as the script can be read before it is
// checked in full.
std::vector<host::FileRole> ScriptFiles(const Json& script, const std::string& base, const PictureArrays& arrays);

// The package the script describes. Throws JsonError naming the place at
// fault, or authoring::PackageError.
authoring::PackageDesc PackScript(const Json& script, const std::string& base, const PictureArrays& arrays);

struct PackJob {
  const Json* script = nullptr;
  std::string base;  // the folder the script's file names are relative to
  const PictureArrays* arrays = nullptr;  // may be null
  // The script's own file, for the roles and as the first word of every
  // error about its content; an empty path when it is no file.
  host::FileRole scriptFile;
  host::FileRole output;
};

// Packs the script into `job.output`. Throws host::SameFileError for an
// output that is one of the inputs, host::FileError for one that cannot be
// written, and Error for a script the package cannot be made from.
void Pack(const PackJob& job);

}  // namespace tiko::packages
