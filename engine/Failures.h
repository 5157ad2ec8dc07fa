// How the processing of a file ends other than by succeeding, and what
// becomes of the batch. Every failure carries its message, already in the
// current language; FailureOutcome turns one into the file's outcome in one
// place, the worker's.
#pragma once

#include <exception>
#include <string>

#include "engine/Outcome.h"
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
// The file is no AVI file at all: a failure a list shows apart.
class NotAviException : public ErrorException {
 public:
  using ErrorException::ErrorException;
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

struct FailureOutcome {
  // Failed, NotAvi, Skipped or Stopped (the batch was aborted).
  OutcomeKind Kind = OutcomeKind::Failed;
  std::string Message;
  // False: the batch goes on with the next file. Only a stop, an abort
  // answer, a full disk and a failure outside the file layer (in a front-end's
  // handler, say) end it; a file that cannot be opened, created, read or
  // written is that file's failure.
  bool EndsBatch = true;
};

// The outcome of the failure being handled (call inside a catch block).
// skipText, abortText: what a front-end asked to be said instead of a
// skip's or a stop's own message (empty: the failure's own).
FailureOutcome OutcomeOfCurrentFailure(const std::string& skipText, const std::string& abortText);

}  // namespace VEKRiff
