// The rows a recovery's staged films take: a film is found in the list by
// its file, however its path is written, as the model tells rows apart; a
// path compared as text leaves the film's row unselected, and the rebuild
// that follows the search takes no row.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "batch/BatchModel.h"
#include "batch/RecoveryRows.h"
#include "support/TempDir.h"

namespace {

TEST(RecoveryRows, AStagedFilmIsFoundByItsFileHoweverItsPathIsWritten) {
  ZantrelTest::TempDir dir;
  std::filesystem::create_directories(dir / "sub");
  for (const char* name : {"other.avi", "film.avi"}) std::ofstream(dir / name) << "RIFF";
  VEKRiff::BatchModel model;
  ASSERT_TRUE(model.Add(dir / "other.avi"));
  ASSERT_TRUE(model.Add(dir / "film.avi"));

  const struct {
    const char* Name;
    std::string Path;
    int Row;
  } rows[] = {
      {"as the row was added", dir / "film.avi", 1},
      {"with forward slashes", dir.Path() + "/film.avi", 1},
      {"through a dot", dir.Path() + "/./film.avi", 1},
      {"through a folder and back", dir.Path() + "/sub/../film.avi", 1},
      {"another file", dir / "sub", -1},
      {"a file of no row", dir / "gone.avi", -1},
  };
  for (const auto& row : rows) EXPECT_EQ(VEKRiff::RowOfPath(model, row.Path), row.Row) << row.Name << ": " << row.Path;
}

}  // namespace
