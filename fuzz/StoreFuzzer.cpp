// libFuzzer target: the settings store's text parser and writer, the settings
// record's load and save on it, and how their work grows with the text.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>

#include "StoreProperties.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> broken = ZantrelFuzz::CheckStoreRoundTrip(text);
  // The scaling check runs the input at up to 256 KB six times over: on one
  // input in sixty-four, so that the fuzzer keeps its pace.
  if (std::hash<std::string_view>()(text) % 64 == 0)
    for (std::string& failure : ZantrelFuzz::CheckStoreScales(text)) broken.push_back(std::move(failure));
  for (const std::string& failure : broken) std::fprintf(stderr, "broken property: %s\n", failure.c_str());
  if (!broken.empty()) std::abort();
  return 0;
}
