// The main of the window tests: a QApplication around the GoogleTest run,
// offscreen unless a platform is named (a screenshot run names xcb).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <cstdio>

namespace {

// The offscreen platform reports every window feature it lacks; that noise
// would bury the messages that matter. The rest goes to the standard error
// stream itself: Qt's own handler on Windows sends it to the debugger unless
// the program has a console window, which a test run under Wine has not, so a
// fatal message (a platform plugin not found) would end the run unexplained.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtWarningMsg && message.startsWith(QLatin1String("This plugin does not support"))) return;
  const QByteArray line = qFormatLogMessage(type, context, message).toUtf8();
  std::fprintf(stderr, "%s\n", line.constData());
  std::fflush(stderr);
}

// The offscreen platform's own screen is 800 x 600, smaller than the main
// window as designed; the tests see a common desktop instead.
void UseDesktopSizedScreen(QTemporaryFile& config) {
  if (qgetenv("QT_QPA_PLATFORM") != "offscreen" || !config.open()) return;
  config.write(R"({"screens": [{"name": "desktop", "x": 0, "y": 0, "width": 1920, "height": 1080,
                  "logicalDpiX": 96, "logicalDpiY": 96, "dpr": 1}]})");
  config.flush();
  qputenv("QT_QPA_PLATFORM",
          "offscreen:configfile=" + QFile::encodeName(QDir::current().relativeFilePath(config.fileName())));
}

}  // namespace

int main(int argc, char** argv) {
  // Test discovery runs the binary without the test environment.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef _WIN32
  // The platform's options are separated by colons, so a path with a drive
  // cannot be one: the file is named relative to the current folder.
  QTemporaryFile screenConfig(QStringLiteral("tarvik-screen-XXXXXX.json"));
#else
  QTemporaryFile screenConfig(QDir::tempPath() + QStringLiteral("/tarvik-screen-XXXXXX.json"));
#endif
  UseDesktopSizedScreen(screenConfig);
  qInstallMessageHandler(QuietHandler);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
