// What must hold for any text handed to the settings store's parser, and any
// key, name and text handed to its writer: what is read can be written, and
// what is written reads back as the same keys and values.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ZantrelFuzz {

// Every property the input broke, one text each; empty when all hold.
std::vector<std::string> CheckStoreRoundTrip(std::string_view input);

}  // namespace ZantrelFuzz
