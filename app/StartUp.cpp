#include "app/StartUp.h"

#include <QApplication>
#include <QMessageBox>

#include "app/FormMain.h"
#include "dialogs/FormAbout.h"
#include "dialogs/FormConfig.h"
#include "dialogs/FormUninstall.h"
#include "settings/InstallCommands.h"
#include "settings/Registry.h"

namespace ZantrelApp {

StartMode ModeOf(const QStringList& arguments) {
  if (arguments.size() > 1 && arguments[1].compare("/uninst", Qt::CaseInsensitive) == 0) return StartMode::Uninstall;
  if (arguments.size() > 1 && arguments[1].compare("/inst", Qt::CaseInsensitive) == 0) return StartMode::Install;
  return StartMode::Normal;
}

namespace {

void RunNormal(const QStringList& arguments) {
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
  QApplication::exec();
  main.FormDestroy();
  if (main.Running) main.Worker->TerminateAndWait();
}

// The one handler for a failure that escapes start-up: the instance marker
// is cleared, the message shown, and the program ends normally.
void ReportFatal(const QString& message) {
  try {
    VEKRegistry::FileStore store(VEKRegistry::DefaultRegistryFileName());
    VEKRegistry::Registry registry(store);
    if (registry.OpenKey(SettingsKeys::Root, true)) registry.WriteString("CurrentInstance", "");
  } catch (const std::exception&) {
    // The store itself is what failed; the original message matters more.
  }
  QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), message);
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
        TFrmUninstall dialog;
        RunUninstallCommand(dialog);
        break;
      }
      case StartMode::Normal:
        RunNormal(arguments);
        break;
    }
  } catch (const std::exception& e) {
    ReportFatal(QString::fromStdString(e.what()));
  }
  return 0;
}

}  // namespace ZantrelApp
