#include "batch/RecoverySearch.h"

#include <exception>

#include "recover/RecoverMessages.h"

namespace VEKRiff {

namespace {

struct StopAsked {};

}  // namespace

RecoverySearch::RecoverySearch(VEK::HandOverQueue& owner, const RecoveryJob& job) : Thread(owner), job_(job) {}

std::unique_ptr<RecoverySearch> RecoverySearch::For(VEK::HandOverQueue& owner, const RecoveryJob& job, View view) {
  view.Line(VEK::Text(VEKRecover::Msg::Searching, {job.Source()}));
  auto search = std::make_unique<RecoverySearch>(owner, job);
  search->OnLine = std::move(view.Line);
  search->OnProgress = std::move(view.Progress);
  search->OnTerminate = [end = std::move(view.End)](VEK::Thread& thread) { end(static_cast<RecoverySearch&>(thread)); };
  return search;
}

RecoverySearch::~RecoverySearch() { TerminateAndWait(); }

RecoverySearch::Ending RecoverySearch::EndingFor() const {
  Ending ending;
  if (Stopped()) ending.Line = VEK::Text(VEKRecover::Msg::SearchStopped);
  else if (!failure_.empty()) ending.Failure = failure_;
  else if (films_.empty()) ending.Line = VEK::Text(VEKRecover::Msg::NoFilms, {job_.Source()});
  else ending.Rebuild = true;
  return ending;
}

void RecoverySearch::Execute() {
  VEKRecover::RecoveryCallbacks callbacks;
  callbacks.Say = [this](const std::string& line) {
    if (OnLine) Synchronize([&] { OnLine(line); });
  };
  callbacks.Progress = [this](const VEKRecover::RecoveryProgress& p) {
    // Each hand-over waits for the window: a few a second say enough.
    const auto now = std::chrono::steady_clock::now();
    if (!OnProgress || (now < nextProgress_ && p.Read < p.Total)) return;
    nextProgress_ = now + std::chrono::milliseconds(250);
    Synchronize([&] { OnProgress(p); });
  };
  callbacks.Stop = [this] {
    WaitWhileHeld();
    if (Terminated()) throw StopAsked{};
  };
  try {
    films_ = job_.Stage(callbacks);
  } catch (const StopAsked&) {
    stopped_ = true;
  } catch (const std::exception& e) {
    // The search's own failures (VEK::Exception) say what failed and why;
    // anything else (no memory left) says at least that.
    failure_ = e.what();
  }
}

}  // namespace VEKRiff
