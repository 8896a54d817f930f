#include <cstdio>
#include <map>
#include <new>

#include "commands.h"

namespace tiko::tool {

void PrintError(const std::string& what) { std::fprintf(stderr, "tiko: %s\n", what.c_str()); }

void PrintWarning(const std::string& what) { std::fprintf(stderr, "tiko: warning: %s\n", what.c_str()); }

namespace {

// The deepest subcommand the parse reached, for "see tiko render --help".
std::string CommandName(const CLI::App& app) {
  std::string name = "tiko";
  for (const CLI::App* sub : app.get_subcommands()) name += " " + sub->get_name();
  return name;
}

}  // namespace

}  // namespace tiko::tool

int main(int argc, char** argv) {
  using namespace tiko::tool;
  CLI::App app{"tiko: animated picture overlays for video, and the tools to make them"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "tiko " TIKO_VERSION);

  std::map<CLI::App*, Runner> runners;
  const auto add = [&](Runner (*make)(CLI::App&)) {
    const size_t before = app.get_subcommands({}).size();
    Runner run = make(app);
    runners[app.get_subcommands({})[before]] = std::move(run);
  };
  add(AddInspect);
  add(AddPack);
  add(AddUnpack);
  add(AddRender);
  add(AddPlay);
  add(AddDemo);
  add(AddSample);
  add(AddCam);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // One line, as for every other usage error.
    const std::string command = CommandName(app);
    PrintError(std::string(e.what()) + " (see " + command + " --help)");
    return kExitUsage;
  }
  // Every command that fails ends here, in one line naming what went wrong:
  // its own errors carry their exit status, the libraries' are failures.
  try {
    for (auto& [command, run] : runners) {
      if (command->parsed()) return run();
    }
  } catch (const std::exception& e) {
    const auto* tool = dynamic_cast<const ToolError*>(&e);
    PrintError(dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? "out of memory" : e.what());
    return tool != nullptr ? tool->status() : kExitFailure;
  }
  return kExitUsage;
}
