#include "app/StartUp.h"

#include <QApplication>
#include <QFile>
#include <QLocale>
#include <QMessageBox>
#include <algorithm>
#include <cstdio>
#include <string>

#include "app/FormAbout.h"
#include "app/FormConfig.h"
#include "app/FormMain.h"
#include "app/FormUninstall.h"
#include "app/SecondStart.h"
#include "app/Translation.h"
#include "settings/Config.h"
#include "settings/InstallCommands.h"
#include "settings/Registry.h"
#include "settings/RegistryStore.h"
#include "settings/UserRegistry.h"

namespace ZantrelApp {

StartMode ModeOf(const QStringList& arguments) {
  if (arguments.size() > 1 && arguments[1].compare("/uninst", Qt::CaseInsensitive) == 0) return StartMode::Uninstall;
  if (arguments.size() > 1 && arguments[1].compare("/inst", Qt::CaseInsensitive) == 0) return StartMode::Install;
  return StartMode::Normal;
}

namespace {

// A start that asks for a run (a switch in argument 1) runs its own files
// in a window of its own; any other hands them to a running window.
bool AsksForARun(const QStringList& arguments) {
  return arguments.size() > 1 && (arguments[1].compare("/checkerrors", Qt::CaseInsensitive) == 0 ||
                                  arguments[1].compare("/rebuildindex", Qt::CaseInsensitive) == 0);
}

QString SettingsFileName() {
#ifdef _WIN32
  return QString();  // the system's registry: one per user
#else
  return QFile::decodeName(QByteArray::fromStdString(VEKRegistry::DefaultRegistryFileName()));
#endif
}

void RunNormal(const QStringList& arguments) {
  const QString serverName = WindowServerName(SettingsFileName());
  if (!AsksForARun(arguments) && HandToRunningWindow(serverName, arguments.mid(1))) return;
  MessageBoxPrompts prompts;
  TFrmMain main(prompts);
  prompts.SetParent(&main);  // question boxes centred on the window
  main.FormCreate(arguments);
  ZantrelDialogs::TFrmAbout about(&main);
  TFrmConfig config(&main);
  TFrmUninstall uninstall(&main);  // made as on every start, never shown here
  main.ShowAbout = [&about] { about.exec(); };
  main.EditConfiguration = [&config](Config& settings) { return config.EditConfig(settings); };
  main.show();
  // A window that cannot listen (another one answers there) still works, alone.
  WindowServer server;
  server.OnPaths = [&main](const QStringList& paths) { main.TakeHandedPaths(paths); };
  server.Listen(serverName);
  QApplication::exec();
  main.FormDestroy();
  main.Session.EndAndWait();
}

// The offscreen and minimal platforms show nobody anything (a package
// script, a test): a modal box there would wait for ever.
bool SomeoneCanAnswer() {
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// The one handler for a failure that escapes start-up: the instance marker
// is cleared, the message goes to standard error as one line (an installer's
// log keeps it) and to a box where someone can answer it, and the program
// ends normally.
void ReportFatal(const std::string& message) {
  // The bytes as they are: a file name need not be valid UTF-8.
  std::string line = message;
  std::replace_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  std::fprintf(stderr, "zantrel: %s\n", line.c_str());
  std::fflush(stderr);
  try {
    const auto store = VEKRegistry::OpenUserRegistry();
    VEKRegistry::Registry registry(*store);
    if (registry.OpenKey(SettingsKeys::Root, true)) registry.WriteString("CurrentInstance", "");
  } catch (const std::exception&) {
    // The store itself is what failed; the original message matters more.
  }
  if (!SomeoneCanAnswer()) return;
  QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), QString::fromStdString(message));
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace

int Run(const QStringList& arguments) {
  try {
    switch (ModeOf(arguments)) {
      case StartMode::Install:
        RunInstallCommand();
        break;
      case StartMode::Uninstall: {
        // The dialog speaks the language of the settings, else the system's,
        // which also tells why settings that cannot be read were not.
        const auto store = VEKRegistry::OpenUserRegistry();
        UseLanguage(ChosenLanguage(std::nullopt, QLocale()));
        UseLanguage(ChosenLanguage(StoredLanguage(*store), QLocale()));
        TFrmUninstall dialog;
        RunUninstallCommand(dialog, *store);
        break;
      }
      case StartMode::Normal:
        RunNormal(arguments);
        break;
    }
  } catch (const std::exception& e) {
    ReportFatal(e.what());
  }
  return 0;
}

}  // namespace ZantrelApp
