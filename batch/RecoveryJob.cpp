#include "batch/RecoveryJob.h"

#include <filesystem>
#include <system_error>

#include "lang/Language.h"
#include "recover/RecoverMessages.h"

namespace VEKRiff {

namespace fs = std::filesystem;

RecoveryJob::RecoveryJob(std::string source, std::string folder, std::string referenceFile)
    : Source_(std::move(source)), Folder_(std::move(folder)), Reference_(std::move(referenceFile)) {
  std::error_code failed;
  const fs::path path(Folder_);
  // Nothing is made on the card itself: a folder yet to be made is judged
  // by the nearest one that is there.
  fs::path there = fs::absolute(path, failed);
  while (!failed && !fs::exists(there, failed) && there.has_relative_path()) there = there.parent_path();
  Failure_ = VEKRecover::FolderRefusal(Source_, Folder_, there.string());
  if (!Failure_.empty()) return;
  fs::create_directories(path, failed);
  if (failed || !fs::is_directory(path)) {
    Failure_ = VEK::Text(VEKRecover::Msg::FolderUnusable,
                         {Folder_, failed ? failed.message() : VEK::Text(VEKRecover::Msg::NotAFolder)});
    return;
  }
  // A hidden folder of this job's own: never one another run is using.
  for (int n = 1; n < 1000 && Staging_.empty(); ++n) {
    const fs::path staging = path / (".zantrel-recovery" + (n == 1 ? std::string() : "-" + std::to_string(n)));
    if (fs::create_directory(staging, failed)) Staging_ = staging.string();
    else if (failed) break;
  }
  if (Staging_.empty())
    Failure_ = VEK::Text(VEKRecover::Msg::FolderUnusable,
                         {Folder_, failed ? failed.message() : std::make_error_code(std::errc::file_exists).message()});
}

RecoveryJob::~RecoveryJob() {
  if (Staging_.empty()) return;
  std::error_code ignored;
  fs::remove_all(Staging_, ignored);
}

std::vector<VEKRecover::StagedFilm> RecoveryJob::Stage(const VEKRecover::RecoveryCallbacks& callbacks) const {
  return VEKRecover::StageFilms(Source_, Staging_, callbacks);
}

RunOptions RecoveryJob::Options() const {
  RunOptions run;
  run.CheckOnly = false;
  run.KeepOriginal = true;
  run.Prefix.clear();
  run.OutputFolder = Folder_;
  run.ReferenceFile = Reference_;
  run.ModifyOriginalPrompt = false;
  run.OverwritePrompt = false;
  // A film of that name is there from an earlier recovery of the same card.
  run.OverwriteBehavior = OverwriteSkip;
  return run;
}

}  // namespace VEKRiff
