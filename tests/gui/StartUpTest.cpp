// The mode a start takes from its first argument.
#include <gtest/gtest.h>

#include "app/StartUp.h"

namespace {

using ZantrelApp::StartMode;

TEST(StartUp, TheFirstArgumentSelectsTheModeInAnyLetterCase) {
  const struct {
    QStringList args;
    StartMode mode;
  } cases[] = {
      {{"zantrel"}, StartMode::Normal},
      {{"zantrel", "/inst"}, StartMode::Install},
      {{"zantrel", "/INST", "x.avi"}, StartMode::Install},
      {{"zantrel", "/Uninst"}, StartMode::Uninstall},
      {{"zantrel", "/uninstall"}, StartMode::Normal},
      {{"zantrel", "/checkerrors", "/inst"}, StartMode::Normal},
      {{"zantrel", "inst"}, StartMode::Normal},
  };
  for (const auto& c : cases) EXPECT_EQ(ZantrelApp::ModeOf(c.args), c.mode) << c.args.join(' ').toStdString();
}

}  // namespace
