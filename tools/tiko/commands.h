// The subcommands of the tiko program. Each registers itself on the parser
// and runs when chosen; a run returns the process exit status.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <stdexcept>
#include <string>

namespace tiko::tool {

// Exit statuses: 1 for bad input or a failed job, 2 for usage errors.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// What ends a command: its text is the whole line printed, and it carries the
// exit status.
class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& what, int status = kExitFailure) : std::runtime_error(what), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

// A command line the command cannot run: "--frames: expected a whole number
// of 1 or more".
class UsageError : public ToolError {
 public:
  explicit UsageError(const std::string& what) : ToolError(what, kExitUsage) {}
};

using Runner = std::function<int()>;

Runner AddInspect(CLI::App& app);
Runner AddSample(CLI::App& app);
Runner AddPack(CLI::App& app);
Runner AddUnpack(CLI::App& app);
Runner AddRender(CLI::App& app);
Runner AddPlay(CLI::App& app);
Runner AddDemo(CLI::App& app);
Runner AddCam(CLI::App& app);

// One line on stderr: "tiko: <what>".
void PrintError(const std::string& what);
// One line on stderr: "tiko: warning: <what>".
void PrintWarning(const std::string& what);

}  // namespace tiko::tool
