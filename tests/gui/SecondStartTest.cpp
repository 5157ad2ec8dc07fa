// A later start hands its files to the running window over a local socket:
// both ends in one test, the sending one on a thread of its own as a
// second process would block on it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QTreeWidget>
#include <QLocalSocket>
#include <QTest>
#include <cstring>
#include <future>

#include "app/FormMain.h"
#include "app/SecondStart.h"
#include "app/StartUp.h"
#include "support/TempDir.h"

namespace {

using ZantrelApp::HandToRunningWindow;
using ZantrelApp::WindowServer;

// Runs the sending end on its own thread while this one serves the window's
// end, as the running program's event loop would.
bool HandOver(const QString& name, const QStringList& paths) {
  auto sent = std::async(std::launch::async, [&] { return HandToRunningWindow(name, paths, 5000); });
  EXPECT_TRUE(QTest::qWaitFor([&] { return sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                              10000));
  return sent.get();
}

struct SecondStart : ::testing::Test {
  ZantrelTest::TempDir dir;
  QString Name(const char* leaf) const { return QString::fromStdString(dir / leaf); }
};

TEST_F(SecondStart, TheNameIsOneForEachSettingsFile) {
  EXPECT_EQ(ZantrelApp::WindowServerName("/home/a/.config/zantrel/registry.reg"),
            ZantrelApp::WindowServerName("/home/a/.config/zantrel/../zantrel/registry.reg"));
  EXPECT_NE(ZantrelApp::WindowServerName("/home/a/.config/zantrel/registry.reg"),
            ZantrelApp::WindowServerName("/tmp/other/zantrel/registry.reg"));
}

// The paths arrive whole and absolute (the running window has another
// working folder), in order, names with spaces and accents included.
TEST_F(SecondStart, TheRunningWindowTakesTheFilesOfALaterStart) {
  WindowServer server;
  std::vector<QStringList> received;
  server.OnPaths = [&](const QStringList& paths) { received.push_back(paths); };
  ASSERT_TRUE(server.Listen(Name("window")));
  const QString relative = QStringLiteral("vacances d'\u00E9t\u00E9.avi");
  const QStringList cases[] = {
      {"/films/a.avi", relative, "/films/dossier"},
      {},  // a start with no file: the window only comes to the front
  };
  for (const QStringList& paths : cases) {
    received.clear();
    EXPECT_TRUE(HandOver(Name("window"), paths));
    ASSERT_EQ(received.size(), 1u);
    QStringList expected;
    for (const QString& p : paths) expected << QDir::current().absoluteFilePath(p);
    EXPECT_EQ(received[0], QStringList(expected));
    for (const QString& p : received[0]) EXPECT_TRUE(QDir::isAbsolutePath(p)) << p.toStdString();
  }
}

TEST_F(SecondStart, WithNoWindowListeningTheStartOpensItsOwn) {
  EXPECT_FALSE(HandToRunningWindow(Name("nobody"), {"/films/a.avi"}, 2000));
}

// A window that ended without closing its socket leaves its name behind; the
// next window takes it over. A name a window answers on stays its own.
TEST_F(SecondStart, ANameLeftBehindIsTakenOverAndALiveOneIsNot) {
  const std::string left = dir / "left";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, left.c_str(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(fd);  // the name stays, nobody listens

  WindowServer server;
  int taken = 0;
  server.OnPaths = [&](const QStringList&) { ++taken; };
  ASSERT_TRUE(server.Listen(QString::fromStdString(left)));
  EXPECT_TRUE(HandOver(QString::fromStdString(left), {"/a.avi"}));
  EXPECT_EQ(taken, 1);

  WindowServer second;
  second.OnPaths = [&](const QStringList&) { ADD_FAILURE() << "the second server took a start"; };
  EXPECT_FALSE(second.Listen(QString::fromStdString(left)));
  EXPECT_TRUE(HandOver(QString::fromStdString(left), {"/b.avi"}));
  EXPECT_EQ(taken, 2) << "the first window still takes the starts";
}

// Bytes that are no start's message are dropped, and the window goes on
// taking the next start's files.
TEST_F(SecondStart, AStrangersBytesAreNotTakenForPaths) {
  WindowServer server;
  std::vector<QStringList> received;
  server.OnPaths = [&](const QStringList& paths) { received.push_back(paths); };
  ASSERT_TRUE(server.Listen(Name("window")));
  auto stranger = std::async(std::launch::async, [&] {
    QLocalSocket socket;
    socket.connectToServer(Name("window"));
    if (!socket.waitForConnected(2000)) return false;
    socket.write("GET / HTTP/1.0\r\n\r\n");
    socket.waitForBytesWritten(2000);
    socket.waitForDisconnected(5000);  // the window hangs up on it
    return socket.state() == QLocalSocket::UnconnectedState;
  });
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return stranger.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 10000));
  EXPECT_TRUE(stranger.get());
  EXPECT_TRUE(received.empty());
  EXPECT_TRUE(HandOver(Name("window"), {"/a.avi"}));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0], QStringList{"/a.avi"});
}

// Two starts of the program on the same settings: the second hands its file
// to the first one's window and ends, and the window lists the file.
TEST_F(SecondStart, ALaterStartOnTheSameSettingsEndsAndItsFilesJoinTheRunningWindow) {
  const ZantrelTest::ConfigHome home(dir.Path());
  const std::string clip = dir / "clip.avi";
  ZantrelTest::WriteText(clip, "RIFF");
  const QString name = ZantrelApp::WindowServerName(QString::fromStdString(dir / "zantrel/registry.reg"));
  QStringList listed;
  int windows = 0;
  QTimer::singleShot(0, [&] {
    // The first start's window listens; a start that found none would make
    // a window on the sending thread, which must not happen here.
    if (!HandOver(name, {})) {
      ADD_FAILURE() << "the first start's window does not listen";
    } else {
      auto second = std::async(std::launch::async, [&] { return ZantrelApp::Run({"zantrel", QString::fromStdString(clip)}); });
      EXPECT_TRUE(QTest::qWaitFor(
          [&] { return second.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 30000));
      EXPECT_EQ(second.get(), 0);
      QApplication::processEvents();
    }
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* main = qobject_cast<TFrmMain*>(w)) {
        ++windows;
        for (int row = 0; row < main->LvwFiles->topLevelItemCount(); ++row) listed << main->RowPath(row);
      }
    QApplication::closeAllWindows();
  });
  QObject guard;
  QTimer::singleShot(40000, &guard, [] {
    ADD_FAILURE() << "the program did not end";
    QApplication::exit(0);
  });
  EXPECT_EQ(ZantrelApp::Run({"zantrel"}), 0);
  EXPECT_EQ(windows, 1);
  EXPECT_EQ(listed, QStringList{QString::fromStdString(clip)});
}

}  // namespace
