#include "support/run_tool.h"

#include <sys/wait.h>

#include <cstdio>

#ifndef TIKO_TOOL_PATH
// Builds without the tools have no program to run.
#define TIKO_TOOL_PATH "tiko-not-built"
#endif

namespace tiko::test {

ToolRun RunTool(const std::string& args, const TempDir& dir, const std::string& prefix) {
  const std::string errPath = dir.path() + "/stderr.txt";
  const std::string command = (prefix.empty() ? "" : prefix + " ") + TIKO_TOOL_PATH + " " + args + " 2>" + errPath;
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const std::vector<uint8_t> err = authoring::ReadFileBytes(errPath);
  run.err.assign(err.begin(), err.end());
  return run;
}

}  // namespace tiko::test
