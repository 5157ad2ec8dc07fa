// How the processing of a file ends other than by succeeding, and what
// becomes of the batch. Every failure carries its message, already in the
// current language; FailureOutcome turns one into the file's outcome in one
// place, the worker's.
#pragma once

#include <exception>
#include <string>

#include "util/Exception.h"

namespace VEKRiff {

class EngineException : public VEK::Exception {
 public:
  using VEK::Exception::Exception;
};
// This file cannot be processed; the batch goes on.
class ErrorException : public EngineException {
 public:
  using EngineException::EngineException;
};
// This file is skipped; the batch goes on.
class SkipException : public EngineException {
 public:
  using EngineException::EngineException;
};
// The whole batch ends.
class AbortException : public EngineException {
 public:
  using EngineException::EngineException;
};

enum class FailureKind { FileFailed, FileSkipped, BatchAborted };

struct FailureOutcome {
  FailureKind Kind = FailureKind::FileFailed;
  std::string Message;
  // False: the batch goes on with the next file. Any failure but the
  // engine's own file failures and skips ends it: a file layer failure
  // (a missing file, a read, write, seek or truncation that failed) and a
  // stop alike.
  bool EndsBatch = true;
};

// The outcome of the failure being handled (call inside a catch block).
// skipText, abortText: what a front-end asked to be said instead of a
// skip's or a stop's own message (empty: the failure's own).
FailureOutcome OutcomeOfCurrentFailure(const std::string& skipText, const std::string& abortText);

}  // namespace VEKRiff
