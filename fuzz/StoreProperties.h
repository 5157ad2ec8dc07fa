// What must hold for any text handed to the settings store's parser, and any
// key, name and text handed to its writer: what is read can be written, and
// what is written reads back as the same keys and values.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ZantrelFuzz {

// Every property the input broke, one text each; empty when all hold. With
// the input as the whole registry, the settings record's load and save also
// read it at most once each plus once to commit, write it once, and keep
// every value that is not theirs.
std::vector<std::string> CheckStoreRoundTrip(std::string_view input);

// The input's keys and values copied many times over, as keys of their own
// and as values of one key: the work for eight times the text must stay near
// eight times the work, which no path quadratic in the number of keys or of
// values meets. Measured in processor time, so it belongs to the fuzzer, not
// to the tests.
std::vector<std::string> CheckStoreScales(std::string_view input);

}  // namespace ZantrelFuzz
