#pragma once
// The opaque handles of the output queue are Qt objects in disguise. This is
// the one place that converts between the two.
#include <QObject>

#include "common/uiobject.h"

namespace tarvik {

inline UiObject* ToUi(QObject* object) { return reinterpret_cast<UiObject*>(object); }
inline QObject* FromUi(UiObject* handle) { return reinterpret_cast<QObject*>(handle); }

}  // namespace tarvik
