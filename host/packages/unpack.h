// Packages taken apart into the files people edit: every picture as a PNG
// (and a YUV picture's exact pixels beside it), the script as package.json,
// and a copy of each cue wave that lies beside the package. Packing
// package.json again gives the same package back, byte for byte.
//
// Everything is made in memory first, so that a damaged package fails before
// anything is written; every file to be written is named and checked against
// the inputs and against each other; then all are written out of sight and
// named together, and the folders made for them go again when anything fails.
#pragma once

#include "host/files.h"

namespace tiko::packages {

// The script's name in the folder.
inline constexpr const char* kScriptName = "package.json";

// Unpacks `package` into the folder `dir` (made when missing, with the
// folders above it). The roles name both in errors. Throws
// host::SameFileError for an output that is an input or another output,
// host::FileError for one that cannot be written, and Error for a package
// that cannot be read in full.
void Unpack(const host::FileRole& package, const host::FileRole& dir);

}  // namespace tiko::packages
