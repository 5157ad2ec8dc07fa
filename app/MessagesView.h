// The Messages Center's text: a read-only box of plain lines, both scroll
// bars, no wrap, with the mouse selection, copy and select-all of a text box.
// A damaged film gives tens of thousands of lines: they are kept as they
// come, in UTF-8 and in large blocks, and only the lines on screen are ever
// decoded and laid out, so taking them costs little more than keeping them.
#pragma once

#include <QAbstractScrollArea>
#include <QStringList>
#include <string_view>

#include "batch/LineList.h"

class QMenu;
class QTextLayout;

class MessagesView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit MessagesView(QWidget* parent = nullptr);
  ~MessagesView() override;

  // The content replaced, emptied, or added to at its end. Adding keeps the
  // user's scroll position, unless the view was at its last line: then it
  // follows the new lines.
  void SetLines(const VEKRiff::LineList& utf8Lines);
  void SetLines(const QStringList& lines);
  void Clear();
  void AppendLines(const QStringList& lines);
  // Lines in waiting, cheap to add one by one, shown together by ShowAdded.
  void AddLine(std::string_view utf8Line);
  void AddLastLineOf(const VEKRiff::LineList& list);  // its bytes shared, not copied
  void ShowAdded();

  int LineCount() const { return shown_; }
  // Every line, joined by line breaks, as a text box gives its text.
  QString Text() const;
  QString SelectedText() const;
  void SelectAll();
  void Copy() const;

  // The selection and the caret as offsets into Text(), for assistive
  // technology, which reads the view as one text.
  int CharacterCount() const;
  std::pair<int, int> SelectedRange() const;
  int CursorOffset() const;
  void Select(int anchor, int cursor);
  int OffsetAt(const QPoint& atInViewport) const;
  QRect CharacterRect(int offset) const;  // in the viewport
  void ScrollToOffset(int offset);

  // Copy and Select all, with Qt's own texts for them (translated where
  // Qt's catalogue is installed); the caller owns the menu.
  QMenu* CreateStandardContextMenu();

 signals:
  // Once per change of content, however many lines it brings.
  void Changed();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  struct Spot {
    int line = 0;
    int column = 0;
    bool operator==(const Spot&) const = default;
    auto operator<=>(const Spot&) const = default;
  };

  void Replaced();  // the content new from its first line
  QString Line(int line) const;
  void MeasureLines(int from);
  void UpdateScrollBars();
  int LineHeight() const;
  int VisibleLines() const;
  Spot SpotAt(const QPoint& at) const;
  int OffsetOf(const Spot& spot) const;
  Spot SpotOf(int offset) const;
  QPoint LineOrigin(int line) const;
  void LayOut(QTextLayout& layout, const QString& text) const;
  std::pair<Spot, Spot> Selection() const;
  void ScrollToSpot(const Spot& spot);

  VEKRiff::LineList lines_;  // UTF-8
  int shown_ = 0;            // the lines before those in waiting
  int longest_ = -1;         // the line with the most bytes, measured
  int widest_ = 0;           // in pixels, the widest line known so far
  Spot anchor_, cursor_;     // the selection runs between them
  bool selecting_ = false;
};
