// zantrel: the desktop program.
#include <QApplication>

#include "app/StartUp.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Zantrel");
  return ZantrelApp::Run(QApplication::arguments());
}
