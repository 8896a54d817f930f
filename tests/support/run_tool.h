// Running the tiko program as a user would, capturing what it prints.
#pragma once

#include <string>

#include "support/package_files.h"

namespace tiko::test {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `tiko <args>` (args as a shell would split them); stderr is kept in a
// file of `dir`. `prefix` goes before the program, such as "env -u NAME".
ToolRun RunTool(const std::string& args, const TempDir& dir, const std::string& prefix = "");

}  // namespace tiko::test
