// tiko render, for the commands that render too (the demo): the options as
// the command line gives them, and the render itself.
#pragma once

#include <string>

#include "eye_source.h"

namespace tiko::tool {

// What the command line said, as given; parsed by RunRender.
struct RenderOptions {
  std::string package;
  std::string input;
  std::string output;
  std::string size;    // empty: the input's own
  std::string frames;  // empty: as long as the input lasts
  std::string rate;    // empty: the input's own
  std::string stage = "cover";
  std::string background;
  std::string eyes = kEyesAuto;
  std::string eyesOut;
  std::string at = "0,0";
  bool quiet = false;
  bool stats = false;
};

// Renders as `tiko render` does; the exit status (128 + the signal when one
// stopped it). Throws ToolError and the libraries' errors.
int RunRender(const RenderOptions& options);

}  // namespace tiko::tool
