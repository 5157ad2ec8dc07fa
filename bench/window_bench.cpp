// zantrel-window-bench: times "Check errors" in the main window, as a user
// starting it from the toolbar would see it, from the start of the operation
// to the window's return to idle. Prints one line per run, in seconds; the
// comparison with the console lives in bench/window-vs-console.
//
// Usage: zantrel-window-bench [--runs N] FILE...
// The window is shown on whatever platform QT_QPA_PLATFORM names (a real X
// display under Xvfb in bench/window-vs-console).
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

#include "app/FormMain.h"
#include "app/MessagesView.h"
#include "lang/Language.h"
#include "settings/RegistryStore.h"

namespace {

// The one question of a run again over the same rows is "Proceed with marked
// files as well ?": Yes, so that every run checks every file.
struct YesToAll : ZantrelApp::Prompts {
  ZantrelApp::PromptAnswer Ask(const QString&, const QString&, ZantrelApp::PromptButtons,
                               ZantrelApp::PromptIcon) override {
    return ZantrelApp::PromptAnswer::Yes;
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Zantrel");
  int runs = 3;
  QStringList files;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--runs" && i + 1 < args.size()) runs = args[++i].toInt();
    else files << args[i];
  }
  if (files.isEmpty() || runs < 1) {
    std::fprintf(stderr, "usage: zantrel-window-bench [--runs N] FILE...\n");
    return 2;
  }

  YesToAll prompts;
  VEKRegistry::MemoryStore store;  // the user's settings are not touched
  TFrmMain window(prompts, &store);
  window.FormCreate({"zantrel"});
  VEK::SetLanguage(VEK::English);
  window.resize(1024, 700);
  window.show();
  for (const QString& f : files) window.AddFile(QFile::encodeName(f).toStdString());
  // The defaults: the Messages Center shows the selected row, and the
  // selection follows the work, so every line lands on screen.
  {
    QEventLoop settle;
    QTimer::singleShot(500, &settle, &QEventLoop::quit);
    settle.exec();
  }

  for (int run = 0; run < runs; ++run) {
    QElapsedTimer timer;
    timer.start();
    window.StartOperation(true);
    while (window.Session.Running()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // What is on screen counts: the last lines must have reached the view.
    QApplication::processEvents();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const int shown = window.EdtLogs->LineCount();
    std::printf("window %.3f s, %d lines shown, %lld kept\n", seconds, shown,
                static_cast<long long>(window.Batch.AllLines().size()));
    std::fflush(stdout);
  }
  return 0;
}
