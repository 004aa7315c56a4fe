// The Qt tests' one QApplication (tests/qt/qt_backend_test.cpp makes it): offscreen, with a
// private runtime folder and the program's pictures installed.
// Thread rule: the test's thread.
#pragma once

#include <QApplication>

namespace qttest {

QApplication& app();

}  // namespace qttest
