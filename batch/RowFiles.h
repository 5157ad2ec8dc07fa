// The files a row stands for, as a person reaches them from the list: its
// own file, and the output the latest run wrote or kept for it. The list's
// Output column, the row menu's Play and Show in folder, and a double click
// take them from here, so that no window shows or opens a file that was
// never written.
#pragma once

#include <optional>
#include <string>

#include "batch/BatchModel.h"

namespace VEKRiff {

// The copy beside the row's file that the latest run wrote (rebuilt into a
// copy) or left as it was because it already existed (skipped, the copy
// still there); none after a check, a rewrite in place, or a run that
// wrote nothing.
std::optional<std::string> CopyOf(const BatchEntry& entry);

// The file that holds the row's repair: its copy, or its own file once it
// was rewritten in place; none when no run wrote or kept one.
std::optional<std::string> RepairedFileOf(const BatchEntry& entry);

// What Play opens for the row: its copy when there is one, else its file.
const std::string& FileToPlay(const BatchEntry& entry);

}  // namespace VEKRiff
