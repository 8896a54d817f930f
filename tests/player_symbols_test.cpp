// libtiko.so shows a host exactly its two exports and nothing of the core,
// under a versioned name.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "player_fixtures.h"

namespace tiko {
namespace {

// The standard output of a command; fails the test when it cannot run.
std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << command;
  return out;
}

TEST(LibrarySymbols, ExportsExactlyTheFactoryAndTheLastError) {
  const std::string path = playertest::LibraryPath();
  const std::string table = RunCommand("nm -D --defined-only '" + path + "'");
  std::set<std::string> names;
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, type, name;
    fields >> address >> type >> name;
    ASSERT_FALSE(name.empty()) << line;
    EXPECT_EQ(type, "T") << line;  // code, not data or a weak definition
    names.insert(name);
  }
  EXPECT_EQ(names, (std::set<std::string>{"TikoGetInterface", "TikoGetLastError"})) << table;
}

TEST(LibrarySymbols, HasAVersionedName) {
  const std::string headers = RunCommand("objdump -p '" + playertest::LibraryPath() + "'");
  EXPECT_NE(headers.find("SONAME               libtiko.so."), std::string::npos) << headers;
}

TEST(LibrarySymbols, TheExportsAreCallable) {
  const playertest::PlayerLibrary& library = playertest::Library();
  ASSERT_NE(library.handle, nullptr) << library.error;
  ASSERT_NE(library.getInterface, nullptr);
  ASSERT_NE(library.lastError, nullptr);
  CTikoPlayer* a = library.getInterface();
  CTikoPlayer* b = library.getInterface();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);  // every call makes a new player
  a->Release();
  b->Release();
  // Nothing of the core can be found by name.
  for (const char* inner : {"_ZN4tiko11LoadPackageEPKDsPPNS_7PackageE", "_ZN4tiko8MemAllocEmi"}) {
    EXPECT_EQ(dlsym(library.handle, inner), nullptr) << inner;
  }
}

}  // namespace
}  // namespace tiko
