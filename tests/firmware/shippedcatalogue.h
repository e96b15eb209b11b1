#pragma once
// The catalogue compiled into the program, loaded once for all tests.
#include "firmware/catalogue.h"

namespace tarvik::test {

inline const FirmwareCatalogue& ShippedCatalogue() {
  static const FirmwareCatalogue catalogue = [] {
    FirmwareCatalogue c;
    c.LoadCatalogue();
    return c;
  }();
  return catalogue;
}

}  // namespace tarvik::test
