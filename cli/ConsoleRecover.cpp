// The recover command: the films found on a card or image, staged whole and
// then rebuilt into the folder given by the same batch session that runs a
// rebuild.
#include <chrono>
#include <filesystem>
#include <system_error>

#include "batch/BatchModel.h"
#include "cli/ConsoleRun.h"
#include "lang/Language.h"
#include "recover/RecoverMessages.h"
#include "recover/Recovery.h"
#include "util/Exception.h"

namespace ZantrelCli {

namespace {

namespace fs = std::filesystem;

struct Stopped {};

void Print(std::FILE* out, const std::string& text) {
  const std::string line = Escaped(text);
  std::fwrite(line.data(), 1, line.size(), out);
  std::fputc('\n', out);
  std::fflush(out);
}

// A hidden folder of our own in the destination, made for this run only.
fs::path MakeStaging(const fs::path& folder, std::error_code& failed) {
  for (int n = 1; n < 1000; ++n) {
    const fs::path staging = folder / (".zantrel-recovery" + (n == 1 ? std::string() : "-" + std::to_string(n)));
    if (fs::create_directory(staging, failed)) return staging;
    if (failed) return {};
  }
  failed = std::make_error_code(std::errc::file_exists);
  return {};
}

}  // namespace

int Recover(const Options& options, std::FILE* out, std::FILE* progress, const std::atomic<bool>& stop) {
  const std::string& source = options.Files[0];
  const fs::path folder = options.Files[1];
  std::error_code failed;
  fs::create_directories(folder, failed);
  if (failed || !fs::is_directory(folder)) {
    Print(out, VEK::Text(VEKRecover::Msg::FolderUnusable,
                         {folder.string(), failed ? failed.message() : std::string("not a folder")}));
    return ExitFileFailed;
  }
  const std::string refusal = VEKRecover::FolderRefusal(source, folder.string());
  if (!refusal.empty()) {
    Print(out, refusal);
    return ExitFileFailed;
  }
  const fs::path staging = MakeStaging(folder, failed);
  if (staging.empty()) {
    Print(out, VEK::Text(VEKRecover::Msg::FolderUnusable, {folder.string(), failed.message()}));
    return ExitFileFailed;
  }
  struct RemoveStaging {
    fs::path Path;
    ~RemoveStaging() {
      std::error_code ignored;
      fs::remove_all(Path, ignored);
    }
  } removeStaging{staging};

  std::chrono::steady_clock::time_point nextProgress{};
  bool progressShown = false;
  auto clearProgress = [&] {
    if (progress && progressShown) std::fputs("\r\033[K", progress);
    progressShown = false;
  };
  VEKRecover::RecoveryCallbacks callbacks;
  callbacks.Say = [&](const std::string& line) {
    clearProgress();
    Print(out, line);
  };
  callbacks.Progress = [&](const VEKRecover::RecoveryProgress& p) {
    if (!progress) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextProgress && p.Read < p.Total) return;
    nextProgress = now + std::chrono::milliseconds(250);
    const int percent = p.Total > 0 ? static_cast<int>(p.Read * 100 / p.Total) : 100;
    std::fprintf(progress, "\r\033[K%d%%  %s", percent,
                 VEK::Text(VEKRecover::Msg::FilmsSoFar, {p.Films}).c_str());
    std::fflush(progress);
    progressShown = true;
  };
  callbacks.Stop = [&] {
    if (stop.load()) throw Stopped{};
  };

  std::vector<VEKRecover::StagedFilm> films;
  try {
    Print(out, VEK::Text(VEKRecover::Msg::Searching, {source}));
    films = VEKRecover::StageFilms(source, staging.string(), callbacks);
  } catch (const Stopped&) {
    clearProgress();
    Print(out, VEK::Text(VEKRecover::Msg::SearchStopped));
    return ExitFileFailed;
  } catch (const VEK::Exception& e) {
    clearProgress();
    Print(out, e.what());
    return ExitFileFailed;
  }
  clearProgress();
  if (films.empty()) {
    Print(out, VEK::Text(VEKRecover::Msg::NoFilms, {source}));
    return ExitOk;
  }

  VEKRiff::RunOptions run;
  run.CheckOnly = false;
  run.KeepOriginal = true;
  run.Prefix.clear();
  run.OutputFolder = folder.string();
  run.ReferenceFile = options.ReferenceFile;
  run.ModifyOriginalPrompt = false;
  run.OverwritePrompt = false;
  run.OverwriteBehavior = VEKRiff::OverwriteSkip;
  std::vector<std::string> staged;
  for (const auto& film : films) staged.push_back(film.Path);
  return RunSession(run, staged, false, out, progress, stop);
}

}  // namespace ZantrelCli
