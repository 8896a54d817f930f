// The subcommands of the tiko program. Each registers itself on the parser
// and runs when chosen; a run returns the process exit status.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

namespace tiko::tool {

// Exit statuses: 1 for bad input or a failed job, 2 for usage errors.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

using Runner = std::function<int()>;

Runner AddInspect(CLI::App& app);
Runner AddSample(CLI::App& app);
Runner AddPack(CLI::App& app);
Runner AddUnpack(CLI::App& app);
Runner AddRender(CLI::App& app);
Runner AddPlay(CLI::App& app);
Runner AddDemo(CLI::App& app);

// One line on stderr: "tiko: <what>".
void PrintError(const std::string& what);

}  // namespace tiko::tool
