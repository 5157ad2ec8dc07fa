// A recovery's search for a window: the job's films staged on a thread of
// its own while the window goes on. Its lines and its progress are handed
// over to the window's thread; a stop is Terminate (Hold keeps the search
// where it is while the user is asked). What came of it is there once the
// termination handler runs.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "batch/RecoveryJob.h"
#include "util/Thread.h"

namespace VEKRiff {

class RecoverySearch : public VEK::Thread {
 public:
  // job must outlive the search, and the rebuild of the films it stages.
  RecoverySearch(VEK::HandOverQueue& owner, const RecoveryJob& job);
  ~RecoverySearch() override;

  // Owner's thread; assign before Resume. A line for the user.
  std::function<void(const std::string&)> OnLine;
  // Owner's thread: where the search is, a few times a second and once at
  // its end.
  std::function<void(const VEKRecover::RecoveryProgress&)> OnProgress;

  // Once the termination handler runs: the films staged, none when the
  // search failed; not to be rebuilt when it was stopped.
  const std::vector<VEKRecover::StagedFilm>& Films() const { return films_; }
  // A stop asked for is a stop, even one that came as the last film was
  // written.
  bool Stopped() const { return stopped_ || Terminated(); }
  // Why the search failed, in the current language; empty when it did not.
  const std::string& Failure() const { return failure_; }

  // What a window does once the search has ended, the same in every window:
  // the line it says (a stop, or no film found), the failure it reports
  // once the job is gone, or the staged films it hands to the rebuild.
  struct Ending {
    std::string Line, Failure;
    bool Rebuild = false;
  };
  Ending EndingFor() const;

  // What a window shows of a search, on its own thread: the lines, the
  // progress and the end, where it reads EndingFor.
  struct View {
    std::function<void(const std::string&)> Line;
    std::function<void(const VEKRecover::RecoveryProgress&)> Progress;
    std::function<void(RecoverySearch&)> End;
  };
  // A search of job for a window, the same in every window: its first line
  // said, its handlers set, to Resume once the window shows it.
  static std::unique_ptr<RecoverySearch> For(VEK::HandOverQueue& owner, const RecoveryJob& job, View view);

 protected:
  void Execute() override;

 private:
  const RecoveryJob& job_;
  std::vector<VEKRecover::StagedFilm> films_;
  bool stopped_ = false;
  std::string failure_;
  std::chrono::steady_clock::time_point nextProgress_{};
};

}  // namespace VEKRiff
