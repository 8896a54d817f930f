// tiko pack / tiko unpack: packages from PNG pictures and a JSON script, and
// back. The work, its checks and its messages are the package library's
// (host/packages), shared with the Python module; the commands add their
// arguments and exit statuses.
#include <filesystem>
#include <functional>
#include <new>

#include "commands.h"
#include "host/files.h"
#include "host/packages/pack.h"
#include "host/packages/pictures.h"
#include "host/packages/unpack.h"

namespace tiko::tool {
namespace {

namespace fs = std::filesystem;

// Runs a command's body: its ToolError is the one line printed and gives the
// exit status; an output that is one of the inputs is a usage error.
int Guarded(const std::function<void()>& body) {
  try {
    body();
  } catch (const host::SameFileError& e) {
    PrintError(e.what());
    return kExitUsage;
  } catch (const ToolError& e) {
    PrintError(e.what());
    return e.status();
  } catch (const std::bad_alloc&) {
    PrintError("out of memory");
    return kExitFailure;
  }
  return 0;
}

int RunPack(const std::string& script, const std::string& output) {
  return Guarded([&] {
    if (script.empty()) throw UsageError("SCRIPT: expected the JSON script to pack");
    if (output.empty()) throw UsageError("-o: expected the package file to write");
    const packages::Json root = packages::ParseScript(packages::ReadInput(script), script);
    packages::PackJob job;
    job.script = &root;
    job.base = fs::path(script).parent_path().string();
    job.scriptFile = {"SCRIPT", script};
    job.output = {"-o", output};
    packages::Pack(job);
  });
}

int RunUnpack(const std::string& package, const std::string& dir) {
  return Guarded([&] {
    if (package.empty()) throw UsageError("PACKAGE: expected the package file to unpack");
    if (dir.empty()) throw UsageError("-o: expected the folder to write into");
    packages::Unpack({"PACKAGE", package}, {"-o", dir});
  });
}

}  // namespace

Runner AddPack(CLI::App& app) {
  auto* cmd = app.add_subcommand("pack", "Build a package from a JSON script and PNG pictures");
  auto script = std::make_shared<std::string>();
  auto output = std::make_shared<std::string>();
  // Required, but checked by the command itself, which says so in one line.
  cmd->add_option("SCRIPT", *script, "JSON script of the pictures and actors (required)");
  cmd->add_option("-o,--output", *output, "Package file to write (required)");
  return [script, output]() { return RunPack(*script, *output); };
}

Runner AddUnpack(CLI::App& app) {
  auto* cmd = app.add_subcommand("unpack", "Write a package's pictures as PNG, its script as JSON and its cue waves");
  auto package = std::make_shared<std::string>();
  auto dir = std::make_shared<std::string>();
  cmd->add_option("PACKAGE", *package, "Package file (required)");
  cmd->add_option("-o,--output", *dir, "Folder to write package.json, the pictures and the cue waves into (required)");
  return [package, dir]() { return RunUnpack(*package, *dir); };
}

}  // namespace tiko::tool
