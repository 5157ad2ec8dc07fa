// The recover command: the films found on a card or image, staged whole and
// then rebuilt into the folder given by the same batch session that runs a
// rebuild.
#include <chrono>

#include "batch/RecoveryJob.h"
#include "cli/ConsoleRun.h"
#include "lang/Language.h"
#include "recover/RecoverMessages.h"
#include "util/Exception.h"

namespace ZantrelCli {

namespace {

struct Stopped {};

void Print(std::FILE* out, const std::string& text) {
  const std::string line = Escaped(text);
  std::fwrite(line.data(), 1, line.size(), out);
  std::fputc('\n', out);
  std::fflush(out);
}

}  // namespace

int Recover(const Options& options, std::FILE* out, std::FILE* progress, const std::atomic<bool>& stop) {
  const VEKRiff::RecoveryJob job(options.Files[0], options.Files[1], options.ReferenceFile);
  if (!job.Failure().empty()) {
    Print(out, job.Failure());
    return ExitFileFailed;
  }

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
    std::fprintf(progress, "\r\033[K%d%%  %s", percent, VEK::Text(VEKRecover::Msg::FilmsSoFar, {p.Films}).c_str());
    std::fflush(progress);
    progressShown = true;
  };
  callbacks.Stop = [&] {
    if (stop.load()) throw Stopped{};
  };

  std::vector<VEKRecover::StagedFilm> films;
  try {
    Print(out, VEK::Text(VEKRecover::Msg::Searching, {job.Source()}));
    films = job.Stage(callbacks);
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
    Print(out, VEK::Text(VEKRecover::Msg::NoFilms, {job.Source()}));
    return ExitOk;
  }
  std::vector<std::string> staged;
  for (const auto& film : films) staged.push_back(film.Path);
  return RunSession(job.Options(), staged, false, out, progress, stop);
}

}  // namespace ZantrelCli
