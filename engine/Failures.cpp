#include "engine/Failures.h"

#include <cerrno>

#include "file/File.h"

namespace VEKRiff {

FailureOutcome OutcomeOfCurrentFailure(const std::string& skipText, const std::string& abortText) {
  try {
    throw;
  } catch (const NotAviException& e) {
    return {OutcomeKind::NotAvi, e.Message(), false};
  } catch (const ErrorException& e) {
    return {OutcomeKind::Failed, e.Message(), false};
  } catch (const SkipException& e) {
    return {OutcomeKind::Skipped, skipText.empty() ? e.Message() : skipText, false};
  } catch (const AbortException& e) {
    return {OutcomeKind::Stopped, abortText.empty() ? e.Message() : abortText, true};
  } catch (const VEKFile::File::Exception& e) {
    // A file that cannot be opened, created or read (a name that leads
    // nowhere, a pipe, a folder that is missing, a bad sector, a file cut
    // short under the walk) is that file's failure alone, as is a write that
    // fails for a reason of its own; a full disk would fail every file after
    // it.
    const bool fullDisk = e.SystemError == ENOSPC
#ifdef EDQUOT
                          || e.SystemError == EDQUOT
#endif
        ;
    return {OutcomeKind::Failed, e.Message(), fullDisk};
  } catch (const std::exception& e) {
    return {OutcomeKind::Failed, e.what(), true};
  }
}

}  // namespace VEKRiff
