#include "cli/ConsoleRun.h"

#include <algorithm>
#include <chrono>

#include "ZantrelVersion.h"
#include "batch/BatchModel.h"
#include "batch/BatchSession.h"
#include "batch/BatchSummary.h"
#include "engine/EngineMessages.h"
#include "batch/ExistingOutput.h"
#include "batch/Report.h"
#include "engine/IndexRebuilder.h"
#include "lang/Language.h"
#include "util/FolderFiles.h"
#include "util/Paths.h"
#include "util/Utf16.h"

namespace ZantrelCli {


ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  auto usage = [&](const std::string& error) {
    result.Outcome = ParseOutcome::Usage;
    result.Error = error;
    return result;
  };
  if (args.empty()) return usage("missing command: check, rebuild or recover");
  for (const std::string& a : args) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      result.Outcome = ParseOutcome::Help;
      return result;
    }
    if (a == "--version") {
      result.Outcome = ParseOutcome::Version;
      return result;
    }
  }
  Options& o = result.Opts;
  if (args[0] == "check") o.CheckOnly = true;
  else if (args[0] == "rebuild") o.CheckOnly = false;
  else if (args[0] == "recover") o.CheckOnly = false, o.Recover = true;
  else return usage("unknown command '" + args[0] + "': use check, rebuild or recover");

  bool prefixGiven = false, overwriteGiven = false, referenceGiven = false, skipGiven = false;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      o.Files.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    std::string value;
    bool hasValue = false;
    const auto eq = a.find('=');
    if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = a.substr(eq + 1);
      a = a.substr(0, eq);
      hasValue = true;
    }
    auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    if (a == "--in-place") {
      if (hasValue) return usage("option --in-place takes no value");
      o.InPlace = true;
    } else if (a == "--prefix") {
      if (!takeValue()) return usage("option --prefix needs a value");
      o.Prefix = value;
      prefixGiven = true;
    } else if (a == "--skip-healthy") {
      if (hasValue) return usage("option --skip-healthy takes no value");
      o.SkipHealthy = true;
      skipGiven = true;
    } else if (a == "--reference") {
      if (!takeValue() || value.empty()) return usage("option --reference needs a file");
      o.ReferenceFile = value;
      referenceGiven = true;
    } else if (a == "--overwrite") {
      if (!takeValue()) return usage("option --overwrite needs a value: skip, abort or overwrite");
      if (value == "skip") o.OverwriteBehavior = VEKRiff::OverwriteSkip;
      else if (value == "abort") o.OverwriteBehavior = VEKRiff::OverwriteAbort;
      else if (value == "overwrite") o.OverwriteBehavior = VEKRiff::OverwriteReplace;
      else return usage("invalid value '" + value + "' for --overwrite: use skip, abort or overwrite");
      overwriteGiven = true;
    } else if (a == "--json") {
      if (hasValue) return usage("option --json takes no value");
      o.Json = true;
    } else if (a == "--lang") {
      if (!takeValue()) return usage("option --lang needs a value: en or fr");
      if (value == "en") o.Language = VEK::English;
      else if (value == "fr") o.Language = VEK::French;
      else return usage("invalid value '" + value + "' for --lang: use en or fr");
    } else {
      return usage("unknown option '" + a + "'");
    }
  }
  if (o.Recover) {
    if (o.InPlace || prefixGiven || overwriteGiven || skipGiven || o.Json)
      return usage("recover takes only --reference and --lang");
    if (o.Files.size() != 2) return usage("recover needs a card or image and a folder: SOURCE FOLDER");
    result.Outcome = ParseOutcome::Run;
    return result;
  }
  if (o.CheckOnly && (o.InPlace || prefixGiven || overwriteGiven || referenceGiven || skipGiven))
    return usage("--in-place, --prefix, --overwrite, --reference and --skip-healthy apply to rebuild only");
  if (o.InPlace && (prefixGiven || overwriteGiven))
    return usage("--prefix and --overwrite apply to copies, not to --in-place");
  // An empty prefix names the file itself: the source would be rewritten by a
  // command that asked for a copy. Repairing the original takes --in-place.
  if (!o.CheckOnly && !o.InPlace && o.Prefix.empty())
    return usage("an empty --prefix names the file itself: use --in-place to repair the files themselves");
  if (o.Files.empty()) return usage("no file given");
  // A folder stands for the AVI files in it and its subfolders, as in the
  // window's Add folder, without the copies an earlier rebuild made there.
  o.Files = VEK::ExpandPaths(o.Files, o.Prefix);
  if (o.Files.empty()) return usage("no AVI file in the folders given");
  result.Outcome = ParseOutcome::Run;
  return result;
}

std::string VersionText() { return std::string("zantrel-cli ") + ZANTREL_VERSION + "\n"; }

std::string HelpText() {
  return "Usage: zantrel-cli check [options] FILE|FOLDER...\n"
         "       zantrel-cli rebuild [options] FILE|FOLDER...\n"
         "       zantrel-cli recover [--reference FILE] [--lang en|fr] SOURCE FOLDER\n"
         "\n"
         "Checks AVI files for structural damage, or rebuilds their idx1 index so that\n"
         "damaged or partially downloaded videos play and seek again. A FOLDER stands\n"
         "for the .avi files in it and its subfolders (hidden ones left out), in the\n"
         "order a person sorts names (clip2 before clip10).\n"
         "\n"
         "  check              walk each file and report what was found; nothing is written\n"
         "  rebuild            write a repaired copy beside each file (PREFIX + name)\n"
         "  recover            find the films, deleted or in pieces, on SOURCE (a card or\n"
         "                     disk image, or a card's device, only read) and write each\n"
         "                     one, rebuilt, into FOLDER as film-OFFSET[-DATE].avi\n"
         "\n"
         "Options:\n"
         "  --in-place         rebuild: repair the files themselves instead of copies\n"
         "  --prefix TEXT      rebuild: name of the copy is TEXT + file name (default \"Zantrel.\");\n"
         "                     TEXT may not be empty: use --in-place to repair the files\n"
         "  --overwrite WHAT   rebuild: when the copy exists already: skip (default), abort the\n"
         "                     whole run, or overwrite it\n"
         "  --reference FILE   rebuild, recover: where a file's header list is damaged or lost, take the\n"
         "                     stream formats from FILE, a healthy file from the same camera\n"
         "                     or encoder\n"
         "  --skip-healthy     rebuild: leave the files a check finds healthy as they are\n"
         "  --lang en|fr       language of the messages (default en)\n"
         "  --json             print a report for scripts instead of the messages (below)\n"
         "  --help             show this text\n"
         "  --version          show the version\n"
         "\n"
         "Standard output carries the messages of the run, one per line, in UTF-8. File\n"
         "names are escaped as ls -b does: a byte that is not valid UTF-8 and a control\n"
         "character as \\ and three octal digits (\\377), newline, tab and carriage return\n"
         "as \\n, \\t, \\r, a backslash as \\\\.\n"
         "\n"
         "With --json, standard output carries JSON Lines instead: one object per file\n"
         "as it ends ({\"type\":\"file\"}: path, outcome, errors, video_frames,\n"
         "audio_samples, output, failure, and findings, each with its kind, error, offset,\n"
         "stream, frame, milliseconds and message), then one object summing the batch up\n"
         "({\"type\":\"summary\"}: files, outcomes counted by kind, line). Outcomes: healthy,\n"
         "repaired, damaged, rebuilt, left-healthy, skipped, not-avi, failed, stopped,\n"
         "not-done. Finding kinds: corrupted-data, resumed-scan, header-damage,\n"
         "index-mismatch, size-mismatch, lost-data, note. A byte of a name that is not\n"
         "valid UTF-8 becomes \\ufffd; null stands for what is not known.\n"
         "\n"
         "Ctrl+C, Ctrl+\\, a closed terminal or SIGTERM (SIGINT, SIGQUIT, SIGHUP, SIGTERM)\n"
         "stops the run; a copy being written is then deleted. A signal ignored when the\n"
         "run starts (nohup) stays ignored.\n"
         "\n"
         "Exit status: 0 every file checked without error or rebuilt (or left alone as\n"
         "healthy); 1 a file had errors, was skipped otherwise or failed, or the run was\n"
         "stopped; 2 bad usage.\n";
}

namespace {

void PutOctal(std::string& out, unsigned char byte) {
  out += '\\';
  out += static_cast<char>('0' + (byte >> 6));
  out += static_cast<char>('0' + ((byte >> 3) & 7));
  out += static_cast<char>('0' + (byte & 7));
}

}  // namespace

std::string Escaped(std::string_view text) {
  // Most lines are plain printable ASCII and go out as they are: a run with
  // hundreds of thousands of lines pays for this test only.
  auto plain = [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c >= 0x20 && c < 0x7F && c != '\\';
  };
  const auto first = std::find_if_not(text.begin(), text.end(), plain);
  if (first == text.end()) return std::string(text);
  std::string out(text.begin(), first);
  out.reserve(text.size() + 8);
  for (std::size_t i = static_cast<std::size_t>(first - text.begin()); i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c == '\\') out += "\\\\";
      else if (c == '\n') out += "\\n";
      else if (c == '\t') out += "\\t";
      else if (c == '\r') out += "\\r";
      else if (c < 0x20 || c == 0x7F) PutOctal(out, c);
      else out += static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t length = VEK::Utf8Length(text, i);
    if (length == 0) {
      // A byte outside valid UTF-8 is escaped alone: what follows it may
      // still be a valid character.
      PutOctal(out, c);
      ++i;
      continue;
    }
    // C1 controls (U+0080-U+009F) move some terminals' cursors as their C0
    // cousins do: escaped byte by byte.
    if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      PutOctal(out, c);
      PutOctal(out, static_cast<unsigned char>(text[i + 1]));
      i += 2;
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
  return out;
}

namespace {

// No one to ask on a console: the options answer every question the batch
// could ask, and one that came anyway gets the answer of a closed box.
class NoPrompts : public VEKRiff::Prompts {
 public:
  VEKRiff::PromptAnswer Ask(const std::string&, const std::string&, VEKRiff::PromptButtons buttons,
                            VEKRiff::PromptIcon) override {
    return VEKRiff::ClosedAnswer(buttons);
  }
};

VEKRiff::RunOptions RunOptionsOf(const Options& options) {
  VEKRiff::RunOptions s;
  s.CheckOnly = options.CheckOnly;
  s.ReferenceFile = options.ReferenceFile;
  s.SkipHealthy = options.SkipHealthy;
  s.KeepOriginal = !options.InPlace;
  // In place only through --in-place.
  s.EmptyPrefixInPlace = false;
  s.Prefix = options.Prefix;
  s.ModifyOriginalPrompt = false;  // --in-place is the answer
  s.OverwritePrompt = false;
  s.OverwriteBehavior = options.OverwriteBehavior;
  return s;
}

// The console's view of the batch session: the lines, or the report for
// scripts, and the progress display. Everything runs on the main thread.
class ConsoleView : public VEKRiff::SessionView {
 public:
  ConsoleView(std::FILE* out, std::FILE* progress, bool json) : out_(out), progress_(progress), json_(json) {}
  // The session this view shows, which is made with the view.
  void Show(const VEKRiff::BatchSession& session) { session_ = &session; }

  std::vector<bool> SelectedRows() const override { return {}; }
  void SelectRowAlone(int) override {}

  void ShowRunFile(int row) override {
    currentName_ = VEK::ExtractFileName(Batch().Entry(row).Path);
    if (json_) BeginFile(row);
  }

  void ShowFinding(int, const VEKRiff::Finding& finding, std::string_view message) override {
    if (!json_ || !fileOpen_) return;
    report_.clear();
    VEKRiff::AddFinding(report_, finding, message, firstFinding_);
    firstFinding_ = false;
    PutReport();
  }

  void ShowLine(int, const VEKRiff::LineList& kept) override {
    if (!json_) PrintLine(kept.back());
  }

  // A file's outcome came: the report's object for it ends.
  void ShowRow(int row, bool done) override {
    if (!json_ || !done) return;
    BeginFile(row);
    const VEKRiff::BatchEntry& entry = Batch().Entry(row);
    VEKRiff::FileEnd end;
    end.Outcome = entry.Report.Outcome;
    end.Errors = entry.Report.Errors;
    end.VideoFrames = entry.Report.VideoFrames;
    end.AudioSamples = entry.Report.AudioSamples;
    if (end.Outcome == VEKRiff::OutcomeKind::Rebuilt && entry.Output) end.Output = *entry.Output;
    if (!VEKRiff::Succeeded(end.Outcome)) end.Failure = entry.Report.Failure;
    report_.clear();
    VEKRiff::EndFile(report_, end);
    PutReport();
    fileOpen_ = false;
    linesPending_ = true;
  }

  // Lines go out within a few milliseconds: buffered until the main loop's
  // next turn, not written one by one.
  void FlushLines() override {
    if (!linesPending_) return;
    std::fflush(out_);
    linesPending_ = false;
  }

  void ShowProgress(const VEKRiff::RunProgress& p) override {
    if (!progress_ || currentName_.empty()) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextProgress_) return;
    nextProgress_ = now + std::chrono::milliseconds(250);
    // The lines cleared the progress line before they were buffered: they go
    // out before it is drawn again.
    FlushLines();
    std::fprintf(progress_, "\r\033[K%s  %d%%  %s  %s  %s", Escaped(currentName_).c_str(), p.File,
                 VEKRiff::ErrorsText(p.Errors).c_str(), VEKRiff::VideoFramesText(p.VideoFrames).c_str(),
                 VEKRiff::AudioSamplesText(p.AudioSamples).c_str());
    std::fflush(progress_);
    progressShown_ = true;
  }

  void ShowSummary(const std::string& line) override {
    if (!json_) PrintLine(line);
  }

  // The run ended: the progress line goes; a report for scripts sums the
  // batch up, however many files it had.
  void ShowRunState() override {
    if (running_ == session_->Running()) return;
    running_ = !running_;
    if (running_) return;
    ClearProgressLine();
    if (json_) {
      report_.clear();
      VEKRiff::AddSummary(report_, Batch().BatchOutcomes(), Batch().BatchOptions().CheckOnly);
      PutReport();
      linesPending_ = true;
    }
    FlushLines();
  }

  void ServeEventsButInput() override { FlushLines(); }

 private:
  const VEKRiff::BatchModel& Batch() const { return session_->Model; }

  // A file's object opens as the file starts, or at its outcome where it
  // never started (skipped before it was opened).
  void BeginFile(int row) {
    if (fileOpen_) return;
    ClearProgressLine();
    report_.clear();
    VEKRiff::BeginFile(report_, Batch().Entry(row).Path);
    PutReport();
    fileOpen_ = true;
    firstFinding_ = true;
    linesPending_ = true;  // a script follows the run: a file's start goes out as it comes
  }

  void PutReport() { std::fwrite(report_.data(), 1, report_.size(), out_); }

  void ClearProgressLine() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", progress_);
    std::fflush(progress_);
    progressShown_ = false;
  }

  // A damaged file can make hundreds of thousands of lines: one write each
  // cost more than the whole check.
  void PrintLine(std::string_view message) {
    ClearProgressLine();
    const std::string line = Escaped(message);
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    linesPending_ = true;
  }

  const VEKRiff::BatchSession* session_ = nullptr;
  std::FILE* out_;
  std::FILE* progress_;
  const bool json_;
  std::string currentName_;
  std::chrono::steady_clock::time_point nextProgress_{};
  bool progressShown_ = false;
  bool linesPending_ = false;
  bool running_ = false;
  std::string report_;  // the part of the report being written
  bool fileOpen_ = false;
  bool firstFinding_ = true;
};

}  // namespace

int Run(const Options& options, std::FILE* out, std::FILE* progress, const std::atomic<bool>& stop) {
  VEK::SetLanguage(options.Language);
  if (options.Recover) return Recover(options, out, progress, stop);
  return RunSession(RunOptionsOf(options), options.Files, options.Json, out, progress, stop);
}

int RunSession(const VEKRiff::RunOptions& run, const std::vector<std::string>& files, bool json, std::FILE* out,
               std::FILE* progress, const std::atomic<bool>& stop) {
  VEK::HandOverQueue queue;
  NoPrompts prompts;
  ConsoleView view(out, progress, json);
  VEKRiff::BatchSession session(queue, prompts, view);
  view.Show(session);
  VEKRiff::BatchModel& batch = session.Model;
  batch.KeepLines = false;
  batch.ShowFilmPositions = false;
  // The same file named twice (another spelling, a link) runs once.
  for (const std::string& file : files) batch.Add(file);
  if (!session.Start(run, VEKRiff::RunScope::WholeList)) return ExitFileFailed;
  while (session.Running()) {
    // A signal handler's stop flag cannot wake the queue, nor do the worker's
    // lines, which wait in a list: the flag is polled often enough that a
    // stop lands within a few milliseconds, and the lines go out as often.
    queue.WaitAndServe(std::chrono::milliseconds(5));
    session.Tick();
    if (stop.load()) session.Stop(false);
  }
  session.EndAndWait();
  return batch.AllSucceeded() ? ExitOk : ExitFileFailed;
}

}  // namespace ZantrelCli
