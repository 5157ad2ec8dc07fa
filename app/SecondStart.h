// One window per user and settings file: a later start of the desktop
// program hands the files of its command line to the window already running
// on the same settings, over a local socket, and ends. Two windows would
// save over each other's settings.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

class QLocalServer;
class QLocalSocket;

namespace ZantrelApp {

// The running window's socket for the settings file given: the user's own
// and the file's own, so that a start on other settings opens its own
// window.
QString WindowServerName(const QString& settingsFile);

// Sends paths (made absolute here: the running window has another working
// folder) to the window listening under name, and waits for it to say it
// has them. False when no window listens, or none answers in time: then
// this start opens a window of its own rather than lose the files.
bool HandToRunningWindow(const QString& name, const QStringList& paths, int waitMs = 10000);

// The running window's end of the socket.
class WindowServer : public QObject {
 public:
  explicit WindowServer(QObject* parent = nullptr);

  // Listens under name, for this user only. A name left behind by a window
  // that ended without closing it is taken over; one another window answers
  // on is not. Returns whether it listens.
  bool Listen(const QString& name);

  // Each later start's paths, on the event loop's thread.
  std::function<void(const QStringList&)> OnPaths;

 private:
  void Serve(QLocalSocket* socket);

  QLocalServer* server_;
};

}  // namespace ZantrelApp
