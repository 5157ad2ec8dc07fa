// Runs the worker over a list of files on its own thread and records what a
// front-end would see: the notifications with their file index, and every
// message line.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/IndexRebuilder.h"

namespace ZantrelTest {

struct Notice {
  VEKRiff::RebuildEvent Event;
  int FileIndex;
};

struct WorkerRunResult {
  std::vector<Notice> Notices;   // MessageAdded excluded
  std::vector<std::string> Lines;
  std::vector<std::string> OutputNames;  // OutputFileName at each FileStarted
  bool TerminateHandlerRan = false;
  int LastErrorCount = 0;
  std::int64_t LastVideo = 0, LastAudio = 0;
  std::vector<VEKRiff::RebuildEvent> Outcomes() const;  // one per notice that ends a file
};

struct WorkerRunOptions {
  bool CheckOnly = true;
  bool KeepOriginal = true;
  std::string Prefix = VEKRiff::IndexRebuilder::DefaultPrefix;
  bool EmptyPrefixInPlace = true;
  std::string Reference;  // a healthy file whose header list a rebuild may take
  bool SkipHealthy = false;
  // Runs inside every notification after it is recorded (on the owner's
  // thread, or the worker's with EventsOnWorkerThread).
  std::function<void(VEKRiff::IndexRebuilder&)> OnEvent;
  // The notifications run on the worker's thread, as the console has them:
  // no hand-over per line, for runs that judge only what was written.
  bool EventsOnWorkerThread = false;
};

WorkerRunResult RunWorker(const std::vector<std::string>& files, const WorkerRunOptions& options);

}  // namespace ZantrelTest
