// What must hold after the worker has run over any bytes at all, in each of
// its three modes. Shared by the fuzz target and by the test that replays the
// committed fuzz findings, so a finding is checked the same way in both.
#pragma once

#include <string>
#include <vector>

#include "support/AviBuilder.h"

namespace ZantrelFuzz {

using ZantrelTest::Bytes;

enum class Mode { Check, Copy, InPlace };

// Empty when output is a sound rebuild of source: source's bytes up to the
// walk's end with the movi list size patched, an optional zero pad byte, then
// an idx1 whose entries point at chunk headers that carry the entry's id and
// size; the file ends right after the index. Otherwise, what is wrong.
std::string CheckRebuild(const Bytes& source, const Bytes& output);

// Writes bytes as "in.avi" into folder, runs the worker over it in the mode
// and returns every property it broke, one text each; empty when all hold.
std::vector<std::string> CheckWorkerRun(const std::string& folder, const Bytes& bytes, Mode mode);

}  // namespace ZantrelFuzz
