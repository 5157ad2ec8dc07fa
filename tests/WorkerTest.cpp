// The worker's batch: outcomes of each file, the existing-copy handshake,
// stop requests and failures of the owner's handler.
#include <gtest/gtest.h>

#include "batch/ExistingOutput.h"
#include "engine/IndexRebuilder.h"
#include "support/AviBuilder.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"

namespace {

using namespace ZantrelTest;
using VEKRiff::IndexRebuilder;
using VEKRiff::RebuildEvent;

Bytes GoodFile() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Chunk("01wb", 32).Chunk("00dc", 10);
  return b.EndMovi().Idx1().Build();
}

// Many small corrupted spots: a scan that takes a while and logs a lot.
Bytes ManySpots(int spots) {
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < spots; ++i) b.Chunk("00dc", 16).Fill(6, 0x01);
  return b.Chunk("01wb", 8).Build();
}

struct Worker : ::testing::Test {
  TempDir dir;
  std::string Put(const std::string& name, const Bytes& bytes) {
    WriteFile(dir / name, bytes);
    return dir / name;
  }
};

TEST_F(Worker, AnExistingCopyIsSettledByTheFrontEndsChoice) {
  const Bytes stale = {'o', 'l', 'd'};
  struct Case {
    const char* name;
    std::function<void(IndexRebuilder&)> settle;
    std::string line;
    RebuildEvent first;
    bool replaced;
    bool batchGoesOn;
  };
  using VEKRiff::ApplyOverwriteAnswer;
  using VEKRiff::ApplyOverwriteBehavior;
  using VEKRiff::OverwriteAnswer;
  const Case cases[] = {
      {"yes", [](IndexRebuilder& w) { ApplyOverwriteAnswer(w, OverwriteAnswer::Yes); },
       "User choose to overwrite the file.", VEKRiff::FileRebuilt, true, true},
      {"no", [](IndexRebuilder& w) { ApplyOverwriteAnswer(w, OverwriteAnswer::No); }, "User choose to skip the file.",
       VEKRiff::FileSkipped, false, true},
      {"cancel", [](IndexRebuilder& w) { ApplyOverwriteAnswer(w, OverwriteAnswer::Cancel); },
       "User choose to abort operation.", VEKRiff::Aborted, false, false},
      {"behaviour 0", [](IndexRebuilder& w) { ApplyOverwriteBehavior(w, 0); },
       "File skipped because destination file already exists.", VEKRiff::FileSkipped, false, true},
      {"behaviour 1", [](IndexRebuilder& w) { ApplyOverwriteBehavior(w, 1); },
       "Operation aborted because destination file already exists.", VEKRiff::Aborted, false, false},
      {"behaviour 2", [](IndexRebuilder& w) { ApplyOverwriteBehavior(w, 2); },
       "Destination file already exists, it will be overwritten.", VEKRiff::FileRebuilt, true, true},
  };
  for (const Case& c : cases) {
    const std::string first = Put("a.avi", GoodFile());
    const std::string second = Put("b.avi", GoodFile());
    WriteFile(dir / "Zantrel.a.avi", stale);
    std::remove((dir / "Zantrel.b.avi").c_str());
    WorkerRunOptions o;
    o.CheckOnly = false;
    int asked = 0;
    o.OnEvent = [&](IndexRebuilder& w) {
      if (w.Event() == VEKRiff::FileOpening && VEKRiff::OutputExists(w)) {
        ++asked;
        EXPECT_EQ(VEKRiff::OverwriteQuestion(w),
                  "File \"Zantrel.a.avi\" already exists in folder \"" + dir.Path() + "\". Overwrite ?");
        c.settle(w);
      }
    };
    const auto r = RunWorker({first, second}, o);
    EXPECT_EQ(asked, 1) << c.name;
    ASSERT_GE(r.Lines.size(), 3u);
    EXPECT_EQ(r.Lines[1], c.line) << c.name << ": the window's line comes before the worker's next one";
    ASSERT_FALSE(r.Outcomes().empty());
    EXPECT_EQ(r.Outcomes()[0], c.first) << c.name;
    EXPECT_EQ(ReadFile(dir / "Zantrel.a.avi") != stale, c.replaced) << c.name;
    EXPECT_EQ(Exists(dir / "Zantrel.b.avi"), c.batchGoesOn) << c.name;
    EXPECT_EQ(r.Outcomes().size(), c.batchGoesOn ? 2u : 1u) << c.name;
  }
}

TEST_F(Worker, OnlyACopyOverAnExistingFileRaisesTheQuestion) {
  const std::string path = Put("a.avi", GoodFile());
  WriteFile(dir / "Zantrel.a.avi", {'x'});
  for (auto [checkOnly, keepOriginal] : {std::pair{true, true}, {false, false}}) {
    WorkerRunOptions o;
    o.CheckOnly = checkOnly;
    o.KeepOriginal = keepOriginal;
    bool asked = false;
    o.OnEvent = [&](IndexRebuilder& w) { asked |= VEKRiff::OutputExists(w); };
    RunWorker({path}, o);
    EXPECT_FALSE(asked);
  }
}

TEST_F(Worker, AStopDuringTheScanAbortsTheFileDeletesTheCopyAndEndsTheBatch) {
  const Bytes source = ManySpots(50);
  for (bool keepOriginal : {true, false}) {
    const std::string path = Put("s.avi", source);
    const std::string later = Put("later.avi", GoodFile());
    WorkerRunOptions o;
    o.CheckOnly = false;
    o.KeepOriginal = keepOriginal;
    int lines = 0;
    o.OnEvent = [&](IndexRebuilder& w) {
      if (w.Event() == VEKRiff::MessageAdded && ++lines == 10) w.Abort("");
    };
    const auto r = RunWorker({path, later}, o);
    EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::Aborted});
    ASSERT_GE(r.Lines.size(), 2u);
    EXPECT_EQ(r.Lines[r.Lines.size() - 2], "Operation aborted.");
    EXPECT_EQ(r.Lines.back(), "");
    EXPECT_FALSE(Exists(dir / "Zantrel.s.avi"));
    EXPECT_EQ(ReadFile(path), source) << "nothing is written before the scan ends";
    EXPECT_FALSE(Exists(dir / "Zantrel.later.avi"));
  }
}

TEST_F(Worker, AStopAfterAFilesLastCheckTakesEffectAtTheNextFile) {
  const std::vector<std::string> files = {Put("a.avi", GoodFile()), Put("b.avi", GoodFile())};
  for (int stopAt : {0, 1}) {
    WorkerRunOptions o;
    o.CheckOnly = false;
    o.OnEvent = [&](IndexRebuilder& w) {
      if (w.Event() == VEKRiff::FileRebuilt && w.FileIndex() == stopAt) w.Abort("");
    };
    const auto r = RunWorker(files, o);
    if (stopAt == 0) {
      EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileRebuilt, VEKRiff::Aborted}));
      EXPECT_EQ(r.Notices[r.Notices.size() - 2].Event, VEKRiff::FileOpening) << "after its start and opening";
      EXPECT_EQ(r.Notices.back().FileIndex, 1);
    } else {
      EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileRebuilt, VEKRiff::FileRebuilt}))
          << "the last file completes normally";
    }
  }
}

TEST_F(Worker, AFailureInTheOwnersHandlerReachesTheWorkerAndEndsTheBatch) {
  // Whether the handler fails during the work or while the worker tells a
  // file's failure, the batch ends with the handler's message.
  const std::string good = Put("a.avi", GoodFile()), notAvi = Put("c.avi", {'x', 'y', 'z'});
  for (const RebuildEvent failAt : {VEKRiff::FileOpening, VEKRiff::FileError}) {
    WorkerRunOptions o;
    o.CheckOnly = false;
    bool failed = false;
    o.OnEvent = [failAt, &failed](IndexRebuilder& w) {
      if (failed || w.Event() != failAt || w.FileIndex() != (failAt == VEKRiff::FileError ? 1 : 0)) return;
      failed = true;
      throw VEK::Exception("handler failed");
    };
    const auto r = RunWorker({good, notAvi, good}, o);
    EXPECT_TRUE(r.TerminateHandlerRan);
    ASSERT_GE(r.Lines.size(), 2u);
    EXPECT_EQ(r.Lines[r.Lines.size() - 2], "handler failed");
    EXPECT_EQ(r.Lines.back(), "");
    if (failAt == VEKRiff::FileOpening) {
      EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileError});
      EXPECT_EQ(r.Lines, (std::vector<std::string>{"Processing file \"a.avi\"", "handler failed", ""}));
    } else {
      EXPECT_EQ(std::count(r.Lines.begin(), r.Lines.end(), "Processing file \"a.avi\""), 1)
          << "the batch ended at the second file";
    }
  }
}

TEST_F(Worker, AnEmptyListEndsAtOnceWithoutANotification) {
  const auto r = RunWorker({}, {});
  EXPECT_TRUE(r.Notices.empty());
  EXPECT_TRUE(r.Lines.empty());
  EXPECT_TRUE(r.TerminateHandlerRan);
}

TEST_F(Worker, TheSameFileTwiceInOneRunIsProcessedTwice) {
  const std::string path = Put("a.avi", GoodFile());
  WorkerRunOptions o;
  o.CheckOnly = false;
  o.OnEvent = [](IndexRebuilder& w) {
    if (w.Event() == VEKRiff::FileOpening && VEKRiff::OutputExists(w)) VEKRiff::ApplyOverwriteBehavior(w, 2);
  };
  const auto r = RunWorker({path, path}, o);
  EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileRebuilt, VEKRiff::FileRebuilt}));
  EXPECT_EQ(ReadIdx1(ReadFile(dir / "Zantrel.a.avi")).Entries.size(), 3u);
}

// A stop through the thread's flag alone (the window closing during a run)
// says that the batch was stopped, whatever an earlier file was told.
TEST_F(Worker, AStopByTheThreadFlagAloneIsNeverToldWithAnEarlierFilesOutcome) {
  const std::vector<std::string> files = {Put("a.avi", GoodFile()), Put("b.avi", GoodFile())};
  WriteFile(dir / "Zantrel.a.avi", {'x'});
  WorkerRunOptions o;
  o.CheckOnly = false;
  o.OnEvent = [&](IndexRebuilder& w) {
    if (w.Event() != VEKRiff::FileOpening) return;
    if (w.FileIndex() == 0) VEKRiff::ApplyOverwriteBehavior(w, VEKRiff::OverwriteSkip);
    else w.Terminate();
  };
  const auto r = RunWorker(files, o);
  EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileSkipped, VEKRiff::Aborted}));
  ASSERT_GE(r.Lines.size(), 2u);
  EXPECT_EQ(r.Lines[r.Lines.size() - 2], "Operation aborted.");
}

// A slow owner that stops the worker from its own loop, not from inside a
// notification: the wait must go on serving hand-overs, and every line
// handed over must arrive, in order.
TEST_F(Worker, StoppingFromASlowOwnerNeitherDeadlocksNorLosesALine) {
  const std::string path = Put("s.avi", ManySpots(400));
  VEK::HandOverQueue queue;
  IndexRebuilder worker(queue);
  std::vector<std::string> lines;
  worker.OnEvent = [&](IndexRebuilder& w) {
    if (w.Event() != VEKRiff::MessageAdded) return;
    lines.push_back(w.Message());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  bool terminated = false;
  worker.OnTerminate = [&](VEK::Thread&) { terminated = true; };
  worker.Start(std::make_shared<VEKRiff::FileList>(VEKRiff::FileList{path}), VEKRiff::CopyRule("Zantrel."));
  while (lines.size() < 40) queue.WaitAndServe(std::chrono::milliseconds(20));
  worker.Abort("");
  worker.WaitFor();
  EXPECT_TRUE(terminated);
  ASSERT_GE(lines.size(), 42u);
  EXPECT_EQ(lines[lines.size() - 2], "Operation aborted.");
  EXPECT_EQ(lines.back(), "");
  // Between the header lines and the end, spots come as complete pairs.
  ASSERT_EQ(lines.size() % 2, 0u);
  for (std::size_t i = 2; i + 2 < lines.size(); i += 2) {
    EXPECT_EQ(lines[i].rfind("Corrupted data found at file offset", 0), 0u) << i;
    EXPECT_EQ(lines[i + 1].rfind("Resuming file scanning from offset", 0), 0u) << i;
  }
  EXPECT_FALSE(Exists(dir / "Zantrel.s.avi"));
}

}  // namespace
