// Writes the fuzzers' seed corpora into <folder>/worker and <folder>/store.
// Usage: zantrel-fuzz-seeds <folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "Seeds.h"

namespace {

void Put(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path root = argv[1];
  std::filesystem::create_directories(root / "worker");
  std::filesystem::create_directories(root / "store");
  for (const auto& [name, bytes] : ZantrelFuzz::WorkerSeeds())
    Put(root / "worker" / name, std::string(bytes.begin(), bytes.end()));
  for (const auto& [name, text] : ZantrelFuzz::StoreSeeds()) Put(root / "store" / (name + ".reg"), text);
  return 0;
}
