#pragma once
// An opaque handle of a window object (control, menu item, timer, status-bar
// panel). The core passes handles around and never looks inside them; the
// Qt layer maps them back to its widgets (common/ui/uiobject_qt.h).
namespace tarvik {

struct UiObject;

}  // namespace tarvik
