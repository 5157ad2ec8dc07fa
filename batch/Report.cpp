#include "batch/Report.h"

#include <array>
#include <cstdio>

#include "batch/BatchModel.h"
#include "batch/BatchSummary.h"
#include "lang/Language.h"
#include "util/Utf16.h"

namespace VEKRiff {

namespace {

constexpr std::array<OutcomeKind, 10> AllOutcomes = {
    OutcomeKind::Healthy, OutcomeKind::Repaired, OutcomeKind::Damaged, OutcomeKind::Rebuilt,
    OutcomeKind::LeftHealthy, OutcomeKind::Skipped, OutcomeKind::NotAvi, OutcomeKind::Failed,
    OutcomeKind::Stopped, OutcomeKind::NotDone};

void AppendKey(std::string& out, std::string_view key) {
  out += '"';
  out += key;
  out += "\":";
}

void AppendNumber(std::string& out, std::string_view key, std::int64_t value) {
  AppendKey(out, key);
  out += std::to_string(value);
}

// A string, or null when it is empty.
void AppendText(std::string& out, std::string_view key, std::string_view text) {
  AppendKey(out, key);
  if (text.empty()) out += "null";
  else AppendJsonString(out, text);
}

}  // namespace

std::string_view OutcomeName(OutcomeKind kind) {
  switch (kind) {
    case OutcomeKind::Healthy: return "healthy";
    case OutcomeKind::Repaired: return "repaired";
    case OutcomeKind::Damaged: return "damaged";
    case OutcomeKind::Rebuilt: return "rebuilt";
    case OutcomeKind::LeftHealthy: return "left-healthy";
    case OutcomeKind::Skipped: return "skipped";
    case OutcomeKind::NotAvi: return "not-avi";
    case OutcomeKind::Failed: return "failed";
    case OutcomeKind::Stopped: return "stopped";
    case OutcomeKind::NotDone: break;
  }
  return "not-done";
}

std::string_view FindingKindName(FindingKind kind) {
  switch (kind) {
    case FindingKind::CorruptedData: return "corrupted-data";
    case FindingKind::ResumedScan: return "resumed-scan";
    case FindingKind::HeaderDamage: return "header-damage";
    case FindingKind::IndexMismatch: return "index-mismatch";
    case FindingKind::SizeMismatch: return "size-mismatch";
    case FindingKind::LostData: return "lost-data";
    case FindingKind::Note: break;
  }
  return "note";
}

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = VEK::Utf8Length(text, i);
      if (length == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(text, i, length);
        i += length;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
}

void BeginFile(std::string& out, std::string_view path) {
  out += "{\"type\":\"file\",";
  AppendKey(out, "path");
  AppendJsonString(out, path);
  out += ",\"findings\":[";
}

void AddFinding(std::string& out, const Finding& finding, std::string_view message, bool first) {
  if (!first) out += ',';
  out += '{';
  AppendKey(out, "kind");
  AppendJsonString(out, FindingKindName(finding.Kind));
  out += ",\"error\":";
  out += finding.Error ? "true" : "false";
  out += ',';
  AppendKey(out, "offset");
  out += finding.Offset >= 0 ? std::to_string(finding.Offset) : "null";
  out += ',';
  AppendKey(out, "stream");
  out += finding.Stream >= 0 ? std::to_string(finding.Stream) : "null";
  out += ',';
  AppendKey(out, "frame");
  out += finding.At ? std::to_string(finding.At->Frame) : "null";
  out += ',';
  AppendKey(out, "milliseconds");
  out += finding.At ? std::to_string(finding.At->Milliseconds) : "null";
  out += ',';
  AppendText(out, "message", message);
  out += '}';
}

void EndFile(std::string& out, const FileEnd& end) {
  out += "],";
  AppendText(out, "outcome", OutcomeName(end.Outcome));
  out += ',';
  AppendNumber(out, "errors", end.Errors);
  out += ',';
  AppendNumber(out, "video_frames", end.VideoFrames);
  out += ',';
  AppendNumber(out, "audio_samples", end.AudioSamples);
  out += ',';
  AppendText(out, "output", end.Output);
  out += ',';
  AppendText(out, "failure", end.Failure);
  out += "}\n";
}

void AddSummary(std::string& out, const std::vector<OutcomeKind>& outcomes, bool checkOnly) {
  out += "{\"type\":\"summary\",";
  AppendNumber(out, "files", static_cast<std::int64_t>(outcomes.size()));
  out += ",\"outcomes\":{";
  for (std::size_t k = 0; k < AllOutcomes.size(); ++k) {
    std::int64_t count = 0;
    for (OutcomeKind o : outcomes) count += o == AllOutcomes[k];
    if (k > 0) out += ',';
    AppendNumber(out, OutcomeName(AllOutcomes[k]), count);
  }
  out += "},";
  AppendText(out, "line", SummaryLine(TallyOf(outcomes, checkOnly), checkOnly));
  out += "}\n";
}

std::string ReportNotSaved(const std::string& path, const std::string& reason) {
  static const VEK::MessagePair text = {
      {"Could not save the report to \"%s\": %s", "Impossible d'enregistrer le rapport dans \"%s\" : %s"}};
  return VEK::Text(text, {path, reason});
}

std::string ListReport(const BatchModel& batch) {
  std::string out;
  for (const BatchEntry& entry : batch.Entries()) {
    const EntryReport& r = entry.Report;
    if (r.Outcome == OutcomeKind::NotDone) continue;
    BeginFile(out, entry.Path);
    bool first = true;
    for (const KeptFinding& kept : r.Findings) {
      const std::string_view line = kept.Line < entry.Lines.size() ? entry.Lines[kept.Line] : std::string_view();
      AddFinding(out, kept.Facts(), line.substr(0, kept.MessageLength), first);
      first = false;
    }
    FileEnd end;
    end.Outcome = r.Outcome;
    end.Errors = r.Errors;
    end.VideoFrames = r.VideoFrames;
    end.AudioSamples = r.AudioSamples;
    if (r.Outcome == OutcomeKind::Rebuilt && entry.Output) end.Output = *entry.Output;
    end.Failure = r.Failure;
    EndFile(out, end);
  }
  AddSummary(out, batch.BatchOutcomes(), batch.BatchOptions().CheckOnly);
  return out;
}

}  // namespace VEKRiff
