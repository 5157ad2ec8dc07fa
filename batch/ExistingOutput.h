// How a front-end settles an existing copy while the worker waits in its
// FileOpening notification: by the user's answer to a question, or by the
// configured behaviour. Both front-ends use these, so the texts and the calls
// on the worker are the same everywhere.
#pragma once

#include <string>

#include "engine/IndexRebuilder.h"

namespace VEKRiff {

enum class OverwriteAnswer { Yes, No, Cancel };

// Configured behaviours; any other value writes over the copy silently.
constexpr int OverwriteSkip = 0;
constexpr int OverwriteAbort = 1;
constexpr int OverwriteReplace = 2;

// True when the worker is about to write a separate copy over an existing file.
bool OutputExists(const IndexRebuilder& worker);

// The question and its caption, in the current language.
std::string OverwriteQuestion(const IndexRebuilder& worker);
std::string OverwriteCaption();

void ApplyOverwriteAnswer(IndexRebuilder& worker, OverwriteAnswer answer);
void ApplyOverwriteBehavior(IndexRebuilder& worker, int behavior);

// The counter texts of the status display.
std::string ErrorsText(std::int64_t count);
std::string VideoFramesText(std::int64_t count);
std::string AudioSamplesText(std::int64_t count);

}  // namespace VEKRiff
