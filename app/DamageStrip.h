// A thin strip across the window that pictures one file's damage: the file's
// length, a lost start, the stretches the walk could not read, the part past
// its last usable chunk, and the film a file cut short misses; its tool tip
// (and the name a screen reader reads) says what the film lost, in time.
#pragma once

#include <QWidget>

#include "engine/IndexRebuilder.h"

class DamageStrip : public QWidget {
  Q_OBJECT

 public:
  explicit DamageStrip(QWidget* parent = nullptr);

  // Hidden where the file was not walked or has no damage to show.
  void SetDamage(const VEKRiff::FileDamage& damage);
  const VEKRiff::FileDamage& Damage() const { return damage_; }
  // The x of a file position across the strip's width.
  int XOf(std::int64_t position) const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void RetranslateUi();
  VEKRiff::FileDamage damage_;
};
