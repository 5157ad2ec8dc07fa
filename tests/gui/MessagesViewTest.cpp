// The Messages Center's text box, driven by the mouse and the keyboard as a
// user does: what a selection copies, and how far the view scrolls sideways.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QScrollBar>
#include <QTest>

#include "app/MessagesView.h"

namespace {

const QStringList Lines{"Processing file \"a.avi\"", "Corrupted data found at 0x1F40", "short", "", "Done."};

struct Place {
  int line, column;
};

class MessagesViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.resize(600, 300);
    view.SetLines(Lines);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  }
  // The point between two characters, from the font alone: the view's top
  // left line starts at its margin of 4 pixels.
  QPoint At(Place p) const {
    const QFontMetrics metrics = view.fontMetrics();
    return {4 + metrics.horizontalAdvance(Lines[p.line].left(p.column)), 4 + p.line * metrics.height() + 2};
  }
  MessagesView view;
};

TEST_F(MessagesViewTest, TheMouseSelectsWhatItCoversAndCopyTakesIt) {
  enum Gesture { Drag, ShiftClick, DoubleClick };
  const struct {
    const char* name;
    Gesture gesture;
    Place from, to;
    QString copied;
  } rows[] = {
      {"within a line", Drag, {1, 0}, {1, 9}, "Corrupted"},
      {"backwards over lines", Drag, {2, 3}, {0, 11}, "file \"a.avi\"\nCorrupted data found at 0x1F40\nsho"},
      {"over an empty line", Drag, {2, 5}, {4, 4}, "\n\nDone"},
      {"a click then a shift-click", ShiftClick, {0, 0}, {1, 4}, "Processing file \"a.avi\"\nCorr"},
      {"a word", DoubleClick, {1, 12}, {1, 12}, "data"},
      {"a click alone", Drag, {1, 3}, {1, 3}, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    QWidget* area = view.viewport();
    QGuiApplication::clipboard()->setText("before");
    switch (row.gesture) {
      case Drag:
        QTest::mousePress(area, Qt::LeftButton, {}, At(row.from));
        QTest::mouseMove(area, At(row.to));
        QTest::mouseRelease(area, Qt::LeftButton, {}, At(row.to));
        break;
      case ShiftClick:
        QTest::mouseClick(area, Qt::LeftButton, {}, At(row.from));
        QTest::mouseClick(area, Qt::LeftButton, Qt::ShiftModifier, At(row.to));
        break;
      case DoubleClick:
        QTest::mouseDClick(area, Qt::LeftButton, {}, At(row.from));
        break;
    }
    EXPECT_EQ(view.SelectedText(), row.copied);
    std::unique_ptr<QMenu> menu(view.CreateStandardContextMenu());
    EXPECT_EQ(menu->findChild<QAction*>("edit-copy")->isEnabled(), !row.copied.isEmpty());
    QTest::keySequence(&view, QKeySequence::Copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), row.copied.isEmpty() ? "before" : row.copied);
  }
  QTest::keySequence(&view, QKeySequence::SelectAll);
  QTest::keySequence(&view, QKeySequence::Copy);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), Lines.join('\n'));
}

TEST_F(MessagesViewTest, TheWidestLineCanBeScrolledIntoViewEvenWhenItIsNotTheLongest) {
  // Wide letters in a line with fewer characters than a long narrow one.
  const QString narrow = QString(120, 'i');
  const QString wide = QString(60, 'W');
  ASSERT_GT(view.fontMetrics().horizontalAdvance(wide), view.fontMetrics().horizontalAdvance(narrow) + 100);
  const struct {
    const char* name;
    QStringList lines;
  } rows[] = {
      {"narrow line last", {wide, narrow}},
      {"narrow line first", {narrow, wide}},
      {"appended after", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.lines.isEmpty()) {
      view.SetLines({narrow});
      QApplication::processEvents();
      view.AppendLines({wide});
    } else {
      view.SetLines(row.lines);
    }
    QScrollBar* bar = view.horizontalScrollBar();
    const int needed = view.fontMetrics().horizontalAdvance(wide);
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->maximum() + view.viewport()->width() >= needed; }, 2000))
        << "range " << bar->maximum() << " + " << view.viewport()->width() << " for " << needed;
  }
}

TEST_F(MessagesViewTest, AssistiveTechnologyReadsTheLinesAsOneTextWithTheUsersSelection) {
  const QString all = Lines.join('\n');
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&view);
  ASSERT_NE(accessible, nullptr);
  QAccessibleTextInterface* text = accessible->textInterface();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->characterCount(), all.size());
  EXPECT_EQ(text->text(0, text->characterCount()), all);
  EXPECT_TRUE(accessible->state().readOnly);
  const struct {
    const char* name;
    Place place;
  } places[] = {{"a line's start", {0, 0}}, {"within a line", {1, 12}}, {"an empty line", {3, 0}}, {"the end", {4, 5}}};
  for (const auto& p : places) {
    SCOPED_TRACE(p.name);
    int offset = 0;
    for (int line = 0; line < p.place.line; ++line) offset += Lines[line].size() + 1;
    offset += p.place.column;
    EXPECT_EQ(text->offsetAtPoint(view.viewport()->mapToGlobal(At(p.place))), offset);
    // A selection made with the mouse, read back as offsets, and one set
    // through the interface, seen by the user.
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, At({0, 2}));
    QTest::mouseMove(view.viewport(), At(p.place));
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, At(p.place));
    int start = -1, end = -1;
    text->selection(0, &start, &end);
    const auto [from, to] = std::minmax({2, offset});
    EXPECT_EQ(text->selectionCount(), from != to ? 1 : 0);
    if (from != to) EXPECT_EQ(std::pair(start, end), std::pair(from, to));
    text->setSelection(0, offset, all.size());
    EXPECT_EQ(view.SelectedText(), all.mid(offset));
  }
}

}  // namespace
