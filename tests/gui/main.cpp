// Entry of the widget tests: one QApplication for every test, on whatever
// platform QT_QPA_PLATFORM names (offscreen under CTest).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
