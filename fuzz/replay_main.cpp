// main() for fuzz targets built without libFuzzer: runs LLVMFuzzerTestOneInput
// once on every file of the directories (or on the files) named on the command
// line. A target reports a finding by aborting, so reaching the end means every
// input passed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // A fresh heap copy of exactly the input's size, as libFuzzer gives it, so
  // that AddressSanitizer builds catch reads past the end.
  std::vector<uint8_t> data(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR_OR_FILE...\n", argv[0]);
    return 2;
  }
  size_t runs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    std::error_code error;
    if (std::filesystem::is_regular_file(arg, error)) {
      if (!RunFile(arg)) return 1;
      ++runs;
      continue;
    }
    if (!std::filesystem::is_directory(arg, error)) {
      std::fprintf(stderr, "no such file or directory: %s\n", argv[i]);
      return 1;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(arg, error)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    if (error) {
      std::fprintf(stderr, "cannot list %s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      if (!RunFile(file)) return 1;
      ++runs;
    }
  }
  std::printf("%zu inputs passed\n", runs);
  return 0;
}
