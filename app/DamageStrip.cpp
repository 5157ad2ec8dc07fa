#include "app/DamageStrip.h"

#include <QEvent>
#include <QLocale>
#include <QPainter>
#include <algorithm>

#include "app/Translation.h"
#include "batch/RunDisplay.h"

DamageStrip::DamageStrip(QWidget* parent) : QWidget(parent) {
  setObjectName("DamageStrip");
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  hide();
}

void DamageStrip::SetDamage(const VEKRiff::FileDamage& damage) {
  damage_ = damage;
  setVisible(VEKRiff::ShowsDamage(damage));
  RetranslateUi();
  update();
}

int DamageStrip::XOf(std::int64_t position) const { return VEKRiff::StripX(damage_, position, width()); }

QSize DamageStrip::sizeHint() const {
  // Thin, and as tall as the font makes everything else.
  return {100, std::max(6, fontMetrics().height() / 2)};
}

void DamageStrip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect all = rect();
  p.fillRect(all, palette().color(QPalette::Mid));
  // What no reader can use: past the last usable chunk, hatched.
  const int usable = XOf(damage_.UsableEnd);
  if (usable < all.width()) {
    const QRect rest(usable, 0, all.width() - usable, all.height());
    p.fillRect(rest, palette().color(QPalette::Dark));
    p.fillRect(rest, QBrush(palette().color(QPalette::Base), Qt::BDiagPattern));
  }
  // The damaged stretches in the colour of the errors mark, each at least a
  // pixel wide however short.
  const QColor damaged(0xd3, 0x2f, 0x2f);
  for (const VEKRiff::DamagedStretch& s : damage_.Stretches) {
    const int from = XOf(s.From), to = std::max(XOf(s.To), from + 1);
    p.fillRect(QRect(from, 0, to - from, all.height()), damaged);
  }
}

void DamageStrip::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) RetranslateUi();
  QWidget::changeEvent(event);
}

void DamageStrip::RetranslateUi() {
  const QLocale locale = ZantrelApp::NumberLocale();
  const QString text = tr("Damaged stretches: %1; usable data up to byte %2 of %3")
                           .arg(locale.toString(static_cast<qlonglong>(damage_.Count)))
                           .arg(locale.toString(static_cast<qlonglong>(damage_.UsableEnd)))
                           .arg(locale.toString(static_cast<qlonglong>(damage_.Size)));
  setToolTip(text);
  setAccessibleName(text);
}
