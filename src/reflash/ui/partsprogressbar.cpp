#include "reflash/ui/partsprogressbar.h"

namespace tarvik {

TPartsProgressBar::TPartsProgressBar(QWidget* parent) : QProgressBar(parent) {
  setRange(0, 100);
  setFormat(QStringLiteral("%p%"));
  setAlignment(Qt::AlignCenter);
  Refresh();
}

void TPartsProgressBar::SetTotalParts(std::int32_t total) {
  model_.SetTotal(total);
  Refresh();
}

void TPartsProgressBar::SetPartsComplete(std::int32_t parts) {
  model_.SetPartsComplete(parts);
  Refresh();
}

void TPartsProgressBar::IncPartsByOne() {
  model_.AddParts(1);
  Refresh();
}

void TPartsProgressBar::Refresh() { setValue(model_.Percent()); }

}  // namespace tarvik
