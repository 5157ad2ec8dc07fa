#include "engine/Failures.h"

namespace VEKRiff {

FailureOutcome OutcomeOfCurrentFailure(const std::string& skipText, const std::string& abortText) {
  try {
    throw;
  } catch (const NotAviException& e) {
    return {FailureKind::FileFailed, e.Message(), false, FailureReason::NotAvi};
  } catch (const ErrorException& e) {
    return {FailureKind::FileFailed, e.Message(), false};
  } catch (const HealthySkipException& e) {
    return {FailureKind::FileSkipped, skipText.empty() ? e.Message() : skipText, false, FailureReason::NoRepairNeeded};
  } catch (const SkipException& e) {
    return {FailureKind::FileSkipped, skipText.empty() ? e.Message() : skipText, false};
  } catch (const AbortException& e) {
    return {FailureKind::BatchAborted, abortText.empty() ? e.Message() : abortText, true};
  } catch (const std::exception& e) {
    return {FailureKind::FileFailed, e.what(), true};
  }
}

}  // namespace VEKRiff
