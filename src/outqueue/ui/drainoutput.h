#pragma once
// The UI-thread side of the output queue: drains it and applies each element
// to the Qt object behind its handle.
#include <QString>
#include <Qt>
#include <functional>
#include <string>

class QObject;
class QAbstractButton;

namespace tarvik {

class TOutArray;
struct TOutElement;

// Shows a queued message and returns once the user has closed it.
using MessageHook = std::function<void(const QString& text)>;

// The message box of queued messages: modal, one OK button, titled with the
// application's name.
void ShowQueuedMessage(const QString& text);

// The list views keep the state-image index of a row in this role of column 0.
inline constexpr int kStateImageRole = Qt::UserRole + 1;

// Where an element that could not be applied is told: a warning on the
// program's error output, for whoever looks into a fault.
void ReportDrainError(const QString& what);

// Applies every pending element, those pushed while it runs included (for
// example while a message box is open). An element that fails is dropped,
// told to onError, and the next one still applies.
void DrainOutput(TOutArray& queue, const MessageHook& showMessage = ShowQueuedMessage,
                 const MessageHook& onError = ReportDrainError);

// One element; throws when its text is not what its target needs.
void ApplyElement(const TOutElement& element, const MessageHook& showMessage = ShowQueuedMessage);

// Command words for controls (Windows-1251 text). Objects that are not
// controls (menu items, timers) are left alone.
void ApplyToControl(QObject* control, const std::string& word);
// Boolean words for timers (start, stop), menu items and tree views (enable).
void ApplyToComponent(QObject* component, const std::string& word);
// Background colour of edit boxes, spin boxes, check boxes and radio buttons;
// text colour of labels.
void ApplyColor(QObject* control, const std::string& colorName);

// Runs the button's click action as the user's click would, also when the
// button is disabled: a queued disconnect relies on it.
void PerformClick(QAbstractButton* button);

}  // namespace tarvik
