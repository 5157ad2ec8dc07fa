// The fuzzers' seed inputs: AVI files made by the tests' AVI writer (sound
// files and every kind of damage the engine knows how to skip), and registry
// texts in the forms people and other programs write.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/AviBuilder.h"

namespace ZantrelFuzz {

using ZantrelTest::Bytes;

std::vector<std::pair<std::string, Bytes>> AviSeeds();
// The worker target's inputs (see DecodeCase): every AVI seed without a
// fault, a sound file under each fault, and films that expand past the
// background copy's batch and the write queue's limit.
std::vector<std::pair<std::string, Bytes>> WorkerSeeds();
// Texts for the parser; those holding two NUL bytes also feed the writer
// (key name, value name, text).
std::vector<std::pair<std::string, std::string>> StoreSeeds();

}  // namespace ZantrelFuzz
