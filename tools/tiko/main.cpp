#include <cstdio>
#include <map>

#include "commands.h"

namespace tiko::tool {

void PrintError(const std::string& what) { std::fprintf(stderr, "tiko: %s\n", what.c_str()); }

}  // namespace tiko::tool

int main(int argc, char** argv) {
  using namespace tiko::tool;
  CLI::App app{"tiko: animated picture overlays for video, and the tools to make them"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "tiko 0.1.0");

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

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }
  for (auto& [command, run] : runners) {
    if (command->parsed()) return run();
  }
  return kExitUsage;
}
