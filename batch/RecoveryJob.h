// A recovery as every front-end runs it: the folder made and vouched for,
// the films staged in a hidden folder of its own inside it, then rebuilt
// into it by a batch run under Options(). The staging folder goes with
// the job, once the run is over.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "batch/BatchModel.h"
#include "recover/Recovery.h"

namespace VEKRiff {

class RecoveryJob {
 public:
  // Makes folder where it is missing and the job's staging folder in it. A
  // folder that cannot be used (not a folder, not writable, on the card
  // being searched) leaves Failure() with the reason, in the current
  // language, and nothing made.
  RecoveryJob(std::string source, std::string folder, std::string referenceFile);
  ~RecoveryJob();
  RecoveryJob(const RecoveryJob&) = delete;
  RecoveryJob& operator=(const RecoveryJob&) = delete;

  const std::string& Failure() const { return Failure_; }
  const std::string& Source() const { return Source_; }
  const std::string& Folder() const { return Folder_; }

  // Searches the source and stages its films (the search's own thread may
  // call it). Throws the search's failures (VEK::Exception, with their
  // message) and whatever callbacks.Stop throws.
  std::vector<VEKRecover::StagedFilm> Stage(const VEKRecover::RecoveryCallbacks& callbacks) const;
  // The rebuild of the staged films into the folder, each under its name.
  RunOptions Options() const;

 private:
  std::string Source_, Folder_, Reference_, Staging_;
  std::string Failure_;
};

}  // namespace VEKRiff
