#include "support/WorkerRun.h"

namespace ZantrelTest {

std::vector<VEKRiff::RebuildEvent> WorkerRunResult::Outcomes() const {
  std::vector<VEKRiff::RebuildEvent> out;
  for (const Notice& n : Notices)
    if (n.Event != VEKRiff::FileStarted && n.Event != VEKRiff::FileOpening) out.push_back(n.Event);
  return out;
}

WorkerRunResult RunWorker(const std::vector<std::string>& files, const WorkerRunOptions& options) {
  WorkerRunResult result;
  VEK::HandOverQueue queue;
  VEKRiff::IndexRebuilder worker(queue);
  worker.ReferenceFile = options.Reference;
  worker.SkipHealthy = options.SkipHealthy;
  worker.EventsOnWorkerThread = options.EventsOnWorkerThread;
  worker.OnEvent = [&](VEKRiff::IndexRebuilder& w) {
    if (w.Event() == VEKRiff::MessageAdded) {
      result.Lines.push_back(w.Message());
    } else {
      result.Notices.push_back({w.Event(), w.FileIndex()});
      if (w.Event() == VEKRiff::FileStarted) result.OutputNames.push_back(w.OutputFileName());
    }
    if (options.OnEvent) options.OnEvent(w);
  };
  worker.OnTerminate = [&](VEK::Thread&) { result.TerminateHandlerRan = true; };
  worker.Start(std::make_shared<VEKRiff::FileList>(files),
               VEKRiff::RuleOf(options.CheckOnly, options.KeepOriginal, options.Prefix, options.EmptyPrefixInPlace));
  worker.WaitFor();
  result.LastErrorCount = worker.ErrorCount();
  result.LastVideo = worker.VideoFrameCount();
  result.LastAudio = worker.AudioSampleCount();
  return result;
}

}  // namespace ZantrelTest
