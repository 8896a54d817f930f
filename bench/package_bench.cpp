// Opening a large package: the header, 1000 actors of 8 steps and a table of
// 1000 pictures (whose data stay in the file).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "package/loader.h"
#include "authoring/writer.h"

namespace tiko {
namespace {

std::string LargePackagePath() {
  static const std::string path = [] {
    authoring::PackageDesc desc;
    for (int i = 0; i < 1000; ++i) {
      authoring::ActorDesc actor{i % 100 == 0 ? u"$eye1" : u"actor", 0, std::vector<ActorStep>(8)};
      desc.actors.push_back(std::move(actor));
      authoring::PictureDesc picture;
      picture.entry.pixelFormat = kFormatBgr24;
      picture.entry.width = 4;
      picture.entry.height = 4;
      picture.entry.pixelDataSize = 48;
      picture.entry.totalSize = 48;
      picture.stored.assign(48, static_cast<uint8_t>(i));
      desc.pictures.push_back(std::move(picture));
    }
    const std::string file =
        (std::filesystem::temp_directory_path() / ("tiko-bench-" + std::to_string(getpid()) + ".tiko")).string();
    authoring::WriteFileBytes(file, authoring::WritePackage(desc));
    return file;
  }();
  return path;
}

void BM_LoadPackage(benchmark::State& state) {
  const std::string path = LargePackagePath();
  const std::u16string wide(path.begin(), path.end());
  for (auto _ : state) {
    Package* package = nullptr;
    if (LoadPackage(wide.c_str(), &package) != STATUS_SUCCESS) {
      state.SkipWithError("load failed");
      break;
    }
    benchmark::DoNotOptimize(package);
    FreePackage(package);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LoadPackage)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tiko

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove(tiko::LargePackagePath());
  return 0;
}
