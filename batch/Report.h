// The report for scripts: JSON Lines, one object per file as it ends and one
// last object that sums the batch up, the same from the console (--json) and
// from a window's "Save report...". Names of outcomes and finding kinds are
// stable lowercase words; messages are in the chosen language.
//
// Strings are UTF-8 JSON: a control character is escaped (\n, \t, \r, \b,
// \f, or \u00XX), as are '"' and '\'; a byte that is not part of valid UTF-8
// (a file name can hold any) becomes \ufffd, U+FFFD REPLACEMENT CHARACTER.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Outcome.h"
#include "engine/ScanResult.h"

namespace VEKRiff {

class BatchModel;

// "healthy", "repaired", "damaged", "rebuilt", "left-healthy", "skipped",
// "not-avi", "failed", "stopped", "not-done".
std::string_view OutcomeName(OutcomeKind kind);
// "note", "corrupted-data", "resumed-scan", "header-damage",
// "index-mismatch", "size-mismatch", "lost-data".
std::string_view FindingKindName(FindingKind kind);

// Appends text as a quoted JSON string.
void AppendJsonString(std::string& out, std::string_view text);

// What a file's object says after its findings.
struct FileEnd {
  OutcomeKind Outcome = OutcomeKind::NotDone;
  std::int64_t Errors = 0;
  std::int64_t VideoFrames = 0;
  std::int64_t AudioSamples = 0;
  std::string_view Output;   // the file written (a copy, or the file itself); empty: none
  std::string_view Failure;  // why the file failed or was left; empty: none
};

// A file's object is written in three parts, so that a file with hundreds
// of thousands of findings goes out as they come:
// {"type":"file","path":...,"findings":[ ... ],"outcome":...,...}
void BeginFile(std::string& out, std::string_view path);
// finding's Line is not read: message is what it says.
void AddFinding(std::string& out, const Finding& finding, std::string_view message, bool first);
// Ends the object and its line.
void EndFile(std::string& out, const FileEnd& end);

// The batch's last line: the files by outcome (those the batch never came
// to as "not-done") and the line that sums it up.
void AddSummary(std::string& out, const std::vector<OutcomeKind>& outcomes, bool checkOnly);

// The report of a list: an object for each row a run came to, with what
// its latest run found, then the summary of the latest run.
std::string ListReport(const BatchModel& batch);

// "Could not save the report to "path": reason", in the current language.
std::string ReportNotSaved(const std::string& path, const std::string& reason);

}  // namespace VEKRiff
