// The main of the window tests: a QApplication on the offscreen platform
// around the GoogleTest run.
#include <gtest/gtest.h>

#include <QApplication>

namespace {

QtMessageHandler qtDefaultHandler = nullptr;

// The offscreen platform reports every window feature it lacks; that noise
// would bury the messages that matter.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && message.startsWith(QLatin1String("This plugin does not support"))) return;
  if (qtDefaultHandler) qtDefaultHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  // Test discovery runs the binary without the test environment.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qtDefaultHandler = qInstallMessageHandler(QuietHandler);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
