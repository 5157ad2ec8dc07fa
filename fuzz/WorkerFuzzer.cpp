// libFuzzer target: the worker's whole run over one file in check, copy and
// in-place mode, on a real file in a temporary folder, with one kind of
// system call made to fail; the input's first byte chooses the fault and
// whether the rest describes a film of several MiB (see DecodeCase). Any
// broken property aborts, so libFuzzer keeps the input as a finding.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "WorkerProperties.h"

namespace {

std::string folder;

void RemoveFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/zantrel-fuzz-XXXXXX";
  if (!mkdtemp(templ.data())) std::abort();
  folder = templ;
  std::atexit(RemoveFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  bool failed = false;
  for (const std::string& broken : ZantrelFuzz::CheckWorkerRun(folder, ZantrelFuzz::DecodeCase(data, size))) {
    std::fprintf(stderr, "broken property: %s\n", broken.c_str());
    failed = true;
  }
  if (failed) std::abort();
  return 0;
}
