#pragma once
// A progress bar counted in parts, showing the per cent complete.
#include <QProgressBar>
#include <cstdint>

#include "reflash/progressmodel.h"

namespace tarvik {

class TPartsProgressBar : public QProgressBar {
  Q_OBJECT

 public:
  explicit TPartsProgressBar(QWidget* parent = nullptr);

  std::int32_t TotalParts() const { return model_.Total(); }
  std::int32_t PartsComplete() const { return model_.PartsComplete(); }
  void SetTotalParts(std::int32_t total);
  void SetPartsComplete(std::int32_t parts);
  void IncPartsByOne();

 private:
  void Refresh();

  TProgressModel model_;
};

}  // namespace tarvik
