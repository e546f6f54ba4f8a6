#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

#if __has_include(<QApplication>) && defined(OV_TESTS_WITH_WIDGETS)
#include <QApplication>
#endif

// Every test binary runs with an application object on the main thread, so the
// main queue, timers and the toolkit work as they do in the program.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
#if defined(OV_TESTS_WITH_WIDGETS)
  QApplication app(argc, argv);
#else
  QCoreApplication app(argc, argv);
#endif
  return RUN_ALL_TESTS();
}
