#include "app/DamageStrip.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>

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
  // Unusable bytes hatched; lost film in the colour of the errors mark;
  // the film a file cut short misses, in that colour hatched.
  const QColor damaged(0xd3, 0x2f, 0x2f);
  for (const VEKRiff::StripSpan& s : VEKRiff::StripSpans(damage_, all.width())) {
    const QRect r(s.From, 0, s.To - s.From, all.height());
    p.fillRect(r, s.Part == VEKRiff::StripPart::Unusable ? palette().color(QPalette::Dark) : damaged);
    if (s.Part != VEKRiff::StripPart::Lost) p.fillRect(r, QBrush(palette().color(QPalette::Base), Qt::BDiagPattern));
  }
}

void DamageStrip::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) RetranslateUi();
  QWidget::changeEvent(event);
}

void DamageStrip::RetranslateUi() {
  const QString text = QString::fromStdString(VEKRiff::DamageText(damage_));
  setToolTip(text);
  setAccessibleName(text);
}
