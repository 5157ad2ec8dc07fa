// libFuzzer target: the settings store's text parser and writer.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "StoreProperties.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  bool failed = false;
  for (const std::string& broken : ZantrelFuzz::CheckStoreRoundTrip(text)) {
    std::fprintf(stderr, "broken property: %s\n", broken.c_str());
    failed = true;
  }
  if (failed) std::abort();
  return 0;
}
