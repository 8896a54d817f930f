// What a package holds, as the player loads it: the header, every actor with
// its steps and their modes by name and code, every picture's layout, sizes
// and place in the file; the form `tiko inspect --json` prints.
#pragma once

#include <string>

#include "host/packages/script_json.h"

namespace tiko::packages {

// Throws Error ("PATH: why") for a file that cannot be read or that the
// player refuses.
Json InspectPackage(const std::string& path);

}  // namespace tiko::packages
