#pragma once

#include <QtTest>

namespace vantrel::test {

// Empties the private home that CTest points HOME, XDG_* and TMPDIR at, so every run starts clean.
void prepareEnvironment();

} // namespace vantrel::test

// QTEST_MAIN with a clean private home (a QApplication for tests that link widgets).
#define VANTREL_TEST_MAIN(TestObject)                                                                                  \
    QTEST_MAIN_WRAPPER(TestObject, vantrel::test::prepareEnvironment(); QTEST_MAIN_SETUP())
