#include "reflash/progressmodel.h"

#include <algorithm>

namespace tarvik {

void TProgressModel::SetTotal(std::int32_t total) {
  total = std::max<std::int32_t>(total, 0);
  if (total == total_) return;
  total_ = total;
  parts_ = 0;
}

void TProgressModel::SetPartsComplete(std::int32_t parts) {
  parts_ = std::clamp<std::int32_t>(parts, 0, total_);
}

void TProgressModel::AddParts(std::int32_t parts) {
  parts_ = static_cast<std::int32_t>(std::clamp<std::int64_t>(std::int64_t{parts_} + parts, 0, total_));
}

std::int32_t TProgressModel::Percent() const {
  if (total_ == 0) return 0;
  const std::int64_t scaled = std::int64_t{parts_} * 200 + total_;
  return static_cast<std::int32_t>(scaled / (std::int64_t{total_} * 2));
}

}  // namespace tarvik
