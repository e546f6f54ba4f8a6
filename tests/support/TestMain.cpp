#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

#if __has_include(<QApplication>) && defined(OV_TESTS_WITH_WIDGETS)
#include <QApplication>
#endif

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer cannot see the futex-based locks inside the uninstrumented
// Qt, libdbus, GLib, OpenSSL and cpp-httplib (the test servers) libraries, so
// memory (or a file descriptor number) they hand from one of their threads to
// another looks raced. What those libraries do through intercepted calls
// (malloc, free, memcpy, their own mutexes) is ignored; races between two
// accesses of our own code are still reported.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so\n"
         "called_from_lib:libQt6Network.so\n"
         "called_from_lib:libQt6DBus.so\n"
         "called_from_lib:libQt6Gui.so\n"
         "called_from_lib:libQt6Widgets.so\n"
         "called_from_lib:libdbus-1.so\n"
         "called_from_lib:libglib-2.0.so\n"
         "called_from_lib:libgobject-2.0.so\n"
         "called_from_lib:libgio-2.0.so\n"
         "called_from_lib:libcpp-httplib.so\n"
         "called_from_lib:libssl.so\n"
         "called_from_lib:libcrypto.so\n"
         // The regular expressions cpp-httplib compiles once in its library and
         // then matches from every connection thread.
         "race:std::__detail::_AnyMatcher\n"
         "race:std::__detail::_CharMatcher\n"
         "race:std::__detail::_BracketMatcher\n"
         "race:std::__detail::_Executor\n";
}
#endif

// Every test binary runs with an application object on the main thread, so the
// main queue, timers and the toolkit work as they do in the program.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Nothing a test does reaches the desktop's session bus (a dock showing a
  // test's progress, a notification); a test that needs a bus starts its own.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/session-bus");
  // Nor do the desktop's proxy settings: libproxy loads none of its modules
  // for them (a test that wants a proxy names it in the environment).
  qputenv("PX_MODULE_PATH", "/nonexistent/libproxy-modules");
#if defined(OV_TESTS_WITH_WIDGETS)
  // Widget tests never use the desktop's display, also when the build lists
  // them (test discovery runs without ctest's environment).
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
#else
  QCoreApplication app(argc, argv);
#endif
  return RUN_ALL_TESTS();
}
