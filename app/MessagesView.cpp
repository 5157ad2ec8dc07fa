#include "app/MessagesView.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <climits>

namespace {

// The space around the text, as a text box leaves it.
constexpr int Margin = 4;

bool WordCharacter(QChar c) { return c.isLetterOrNumber() || c == '_'; }

// What a screen reader reads: one read-only text of several lines, with its
// selection and caret, as it reads a text box.
class AccessibleMessages : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit AccessibleMessages(MessagesView* view) : QAccessibleWidget(view, QAccessible::EditableText) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
  }
  QString text(QAccessible::Text t) const override {
    return t == QAccessible::Value ? View()->Text() : QAccessibleWidget::text(t);
  }

  void selection(int index, int* start, int* end) const override {
    const auto [from, to] = View()->SelectedRange();
    *start = index == 0 && from != to ? from : 0;
    *end = index == 0 && from != to ? to : 0;
  }
  int selectionCount() const override {
    const auto [from, to] = View()->SelectedRange();
    return from != to ? 1 : 0;
  }
  void addSelection(int start, int end) override { View()->Select(start, end); }
  void removeSelection(int) override { View()->Select(View()->CursorOffset(), View()->CursorOffset()); }
  void setSelection(int, int start, int end) override { View()->Select(start, end); }
  int cursorPosition() const override { return View()->CursorOffset(); }
  void setCursorPosition(int position) override { View()->Select(position, position); }
  QString text(int start, int end) const override { return View()->Text().mid(start, end - start); }
  int characterCount() const override { return View()->CharacterCount(); }
  QRect characterRect(int offset) const override {
    const QRect r = View()->CharacterRect(offset);
    return QRect(View()->viewport()->mapToGlobal(r.topLeft()), r.size());
  }
  int offsetAtPoint(const QPoint& point) const override {
    return View()->OffsetAt(View()->viewport()->mapFromGlobal(point));
  }
  void scrollToSubstring(int start, int) override { View()->ScrollToOffset(start); }
  QString attributes(int offset, int* start, int* end) const override {
    *start = *end = offset;
    return {};
  }

 private:
  MessagesView* View() const { return static_cast<MessagesView*>(widget()); }
};

QAccessibleInterface* AccessibleFor(const QString& className, QObject* object) {
  if (className == QLatin1String("MessagesView") && object->isWidgetType())
    return new AccessibleMessages(static_cast<MessagesView*>(object));
  return nullptr;
}

}  // namespace

MessagesView::MessagesView(QWidget* parent) : QAbstractScrollArea(parent) {
  static const bool accessible = (QAccessible::installFactory(AccessibleFor), true);
  (void)accessible;
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  viewport()->setCursor(Qt::IBeamCursor);
  verticalScrollBar()->setSingleStep(1);
  UpdateScrollBars();
}

MessagesView::~MessagesView() = default;

void MessagesView::Clear() { SetLines(VEKRiff::LineList()); }

void MessagesView::SetLines(const VEKRiff::LineList& utf8Lines) {
  lines_ = utf8Lines;
  Replaced();
}

void MessagesView::SetLines(const QStringList& lines) {
  lines_.clear();
  for (const QString& line : lines) AddLine(line.toUtf8().toStdString());
  Replaced();
}

void MessagesView::Replaced() {
  shown_ = static_cast<int>(lines_.size());
  longest_ = -1;
  widest_ = 0;
  anchor_ = cursor_ = {};
  MeasureLines(0);
  UpdateScrollBars();
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
  viewport()->update();
  emit Changed();
}

void MessagesView::AppendLines(const QStringList& lines) {
  for (const QString& line : lines) AddLine(line.toUtf8().toStdString());
  ShowAdded();
}

void MessagesView::AddLine(std::string_view utf8Line) { lines_.push_back(utf8Line); }

void MessagesView::AddLastLineOf(const VEKRiff::LineList& list) { lines_.push_back_last_of(list); }

void MessagesView::ShowAdded() {
  const int from = shown_;
  if (from == static_cast<int>(lines_.size())) return;
  QScrollBar* bar = verticalScrollBar();
  // At the end means the last line on screen, whatever the range was made
  // of when the view last changed size.
  const bool follow = bar->value() + VisibleLines() >= from;
  shown_ = static_cast<int>(lines_.size());
  MeasureLines(from);
  UpdateScrollBars();
  if (follow) bar->setValue(bar->maximum());
  viewport()->update();
  emit Changed();
}

QString MessagesView::Line(int line) const {
  const std::string_view text = lines_[line];
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString MessagesView::Text() const {
  std::string text;
  for (int line = 0; line < shown_; ++line) {
    if (line > 0) text += '\n';
    text += lines_[line];
  }
  return QString::fromStdString(text);
}

std::pair<MessagesView::Spot, MessagesView::Spot> MessagesView::Selection() const {
  return std::minmax(anchor_, cursor_);
}

QString MessagesView::SelectedText() const {
  const auto [from, to] = Selection();
  if (from == to || shown_ == 0) return {};
  if (from.line == to.line) return Line(from.line).mid(from.column, to.column - from.column);
  QStringList parts{Line(from.line).mid(from.column)};
  for (int line = from.line + 1; line < to.line; ++line) parts << Line(line);
  parts << Line(to.line).left(to.column);
  return parts.join('\n');
}

void MessagesView::SelectAll() {
  if (shown_ == 0) return;
  anchor_ = {};
  cursor_ = {shown_ - 1, static_cast<int>(Line(shown_ - 1).size())};
  viewport()->update();
}

void MessagesView::Copy() const {
  const QString text = SelectedText();
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

int MessagesView::OffsetOf(const Spot& spot) const {
  int offset = 0;
  for (int line = 0; line < spot.line && line < shown_; ++line) offset += Line(line).size() + 1;
  return offset + spot.column;
}

MessagesView::Spot MessagesView::SpotOf(int offset) const {
  if (shown_ == 0) return {};
  offset = std::max(0, offset);
  for (int line = 0; line < shown_; ++line) {
    const int size = Line(line).size();
    if (offset <= size) return {line, offset};
    offset -= size + 1;
  }
  return {shown_ - 1, static_cast<int>(Line(shown_ - 1).size())};
}

int MessagesView::CharacterCount() const { return Text().size(); }

std::pair<int, int> MessagesView::SelectedRange() const {
  const auto [from, to] = Selection();
  return {OffsetOf(from), OffsetOf(to)};
}

int MessagesView::CursorOffset() const { return OffsetOf(cursor_); }

void MessagesView::Select(int anchor, int cursor) {
  anchor_ = SpotOf(anchor);
  cursor_ = SpotOf(cursor);
  viewport()->update();
}

int MessagesView::OffsetAt(const QPoint& atInViewport) const { return OffsetOf(SpotAt(atInViewport)); }

QRect MessagesView::CharacterRect(int offset) const {
  if (shown_ == 0) return {};
  const Spot spot = SpotOf(offset);
  const QString text = Line(spot.line);
  QTextLayout layout;
  LayOut(layout, text);
  const QTextLine laid = layout.lineAt(0);
  const qreal x0 = laid.cursorToX(spot.column);
  const qreal x1 = laid.cursorToX(std::min<int>(spot.column + 1, text.size()));
  const QPoint origin = LineOrigin(spot.line);
  return QRect(origin.x() + qRound(x0), origin.y(), std::max(1, qRound(x1 - x0)), LineHeight());
}

void MessagesView::ScrollToOffset(int offset) { ScrollToSpot(SpotOf(offset)); }

QMenu* MessagesView::CreateStandardContextMenu() {
  auto* menu = new QMenu(this);
  // Qt's own texts and names for these two, so that its catalogue
  // translates them as in every other text box.
  auto add = [&](const char* text, QKeySequence::StandardKey key, const char* name, const char* icon, auto slot) {
    QString caption = QCoreApplication::translate("QWidgetTextControl", text);
    if (!QCoreApplication::testAttribute(Qt::AA_DontShowShortcutsInContextMenus))
      caption += '\t' + QKeySequence(key).toString(QKeySequence::NativeText);
    QAction* action = menu->addAction(QIcon::fromTheme(icon), caption, this, slot);
    action->setObjectName(name);
    return action;
  };
  const auto [from, to] = Selection();
  add("&Copy", QKeySequence::Copy, "edit-copy", "edit-copy", &MessagesView::Copy)->setEnabled(from != to);
  add("Select All", QKeySequence::SelectAll, "select-all", "edit-select-all", &MessagesView::SelectAll)
      ->setEnabled(shown_ > 0);
  return menu;
}

int MessagesView::LineHeight() const { return std::max(1, fontMetrics().height()); }

int MessagesView::VisibleLines() const { return std::max(1, (viewport()->height() - 2 * Margin) / LineHeight()); }

void MessagesView::MeasureLines(int from) {
  // Measuring every line would be laying them all out. The line with the
  // most characters stands for the widest; painting widens the range for any
  // line on screen that is wider still.
  auto bytes = [&](int line) { return lines_[line].size(); };
  const int before = longest_;
  for (int i = from; i < shown_; ++i)
    if (longest_ < 0 || bytes(i) > bytes(longest_)) longest_ = i;
  if (longest_ >= 0 && longest_ != before) widest_ = std::max(widest_, fontMetrics().horizontalAdvance(Line(longest_)));
}

void MessagesView::UpdateScrollBars() {
  const int visible = VisibleLines();
  QScrollBar* v = verticalScrollBar();
  // A view at its end stays there when it shrinks.
  const bool atEnd = v->value() == v->maximum();
  v->setPageStep(visible);
  v->setRange(0, std::max(0, shown_ - visible));
  if (atEnd) v->setValue(v->maximum());
  QScrollBar* h = horizontalScrollBar();
  const int width = viewport()->width();
  h->setPageStep(width);
  h->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 2));
  h->setRange(0, std::max(0, widest_ + 2 * Margin - width));
}

QPoint MessagesView::LineOrigin(int line) const {
  return {Margin - horizontalScrollBar()->value(), Margin + (line - verticalScrollBar()->value()) * LineHeight()};
}

void MessagesView::LayOut(QTextLayout& layout, const QString& text) const {
  layout.setText(text);
  layout.setFont(font());
  QTextOption option;
  option.setWrapMode(QTextOption::NoWrap);
  layout.setTextOption(option);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  line.setLineWidth(INT_MAX / 4);
  layout.endLayout();
}

MessagesView::Spot MessagesView::SpotAt(const QPoint& at) const {
  if (shown_ == 0) return {};
  const int first = verticalScrollBar()->value();
  const int row = at.y() < Margin ? first - 1 : first + (at.y() - Margin) / LineHeight();
  const int line = std::clamp(row, 0, shown_ - 1);
  QTextLayout layout;
  LayOut(layout, Line(line));
  return {line, layout.lineAt(0).xToCursor(at.x() - LineOrigin(line).x())};
}

void MessagesView::ScrollToSpot(const Spot& spot) {
  QScrollBar* v = verticalScrollBar();
  if (spot.line < v->value())
    v->setValue(spot.line);
  else if (spot.line >= v->value() + VisibleLines())
    v->setValue(spot.line - VisibleLines() + 1);
}

void MessagesView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const int height = LineHeight();
  const int ascent = fontMetrics().ascent();
  const int first = verticalScrollBar()->value();
  const int last = std::min(shown_, first + viewport()->height() / height + 2);
  const auto [from, to] = Selection();
  const QPalette& colours = palette();
  int widest = widest_;
  for (int line = first; line < last; ++line) {
    const QString text = Line(line);
    const QPoint origin = LineOrigin(line);
    painter.setPen(colours.color(QPalette::Text));
    painter.drawText(origin.x(), origin.y() + ascent, text);
    const int width = fontMetrics().horizontalAdvance(text);
    widest = std::max(widest, width);
    if (from == to || line < from.line || line > to.line) continue;
    // The selected part over the text, a selected line end as a space.
    QTextLayout layout;
    LayOut(layout, text);
    const QTextLine laid = layout.lineAt(0);
    const int start = line == from.line ? from.column : 0;
    const qreal x0 = laid.cursorToX(start);
    const qreal x1 = line == to.line ? laid.cursorToX(to.column)
                                     : laid.cursorToX(text.size()) + fontMetrics().horizontalAdvance(' ');
    const QRectF band(origin.x() + x0, origin.y(), x1 - x0, height);
    painter.fillRect(band, colours.brush(QPalette::Highlight));
    painter.save();
    painter.setClipRect(band);
    painter.setPen(colours.color(QPalette::HighlightedText));
    painter.drawText(origin.x(), origin.y() + ascent, text);
    painter.restore();
  }
  if (widest > widest_) {
    widest_ = widest;
    // Not from inside the paint: a new range may scroll and repaint.
    QTimer::singleShot(0, this, &MessagesView::UpdateScrollBars);
  }
}

void MessagesView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void MessagesView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  cursor_ = SpotAt(event->position().toPoint());
  if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = cursor_;
  selecting_ = true;
  viewport()->update();
}

void MessagesView::mouseMoveEvent(QMouseEvent* event) {
  if (!selecting_ || !(event->buttons() & Qt::LeftButton)) return QAbstractScrollArea::mouseMoveEvent(event);
  const QPoint at = event->position().toPoint();
  cursor_ = SpotAt(at);
  // Dragging past an edge carries the view along.
  if (at.y() < 0 || at.y() >= viewport()->height()) ScrollToSpot(cursor_);
  viewport()->update();
}

void MessagesView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !selecting_) return QAbstractScrollArea::mouseReleaseEvent(event);
  selecting_ = false;
  QClipboard* clipboard = QGuiApplication::clipboard();
  const QString text = SelectedText();
  if (clipboard->supportsSelection() && !text.isEmpty()) clipboard->setText(text, QClipboard::Selection);
}

void MessagesView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || shown_ == 0) return QAbstractScrollArea::mouseDoubleClickEvent(event);
  const Spot spot = SpotAt(event->position().toPoint());
  const QString text = Line(spot.line);
  int start = spot.column, end = spot.column;
  while (start > 0 && WordCharacter(text[start - 1])) --start;
  while (end < text.size() && WordCharacter(text[end])) ++end;
  anchor_ = {spot.line, start};
  cursor_ = {spot.line, end};
  selecting_ = false;
  viewport()->update();
}

void MessagesView::keyPressEvent(QKeyEvent* event) {
  if (event == QKeySequence::Copy) return Copy();
  if (event == QKeySequence::SelectAll) return SelectAll();
  QScrollBar* v = verticalScrollBar();
  if (event == QKeySequence::MoveToStartOfDocument) return v->setValue(v->minimum());
  if (event == QKeySequence::MoveToEndOfDocument) return v->setValue(v->maximum());
  QAbstractScrollArea::keyPressEvent(event);
}

void MessagesView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    widest_ = 0;
    const int longest = longest_;
    longest_ = -1;
    if (longest >= 0) MeasureLines(0);
    UpdateScrollBars();
  }
}
