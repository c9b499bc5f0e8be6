#pragma once

#include <QtTest>

namespace vantrel::test {

// Empties the private home that CTest points HOME, XDG_* and TMPDIR at, so every run starts clean,
// and starts without an interface catalog.
void prepareEnvironment();

// Lazily detaches every user-space mount at or below the folder (a test that crashed while a
// share was mounted leaves one behind; emptying its home must not reach into the share).
void detachMountsUnder(const QString& folder);

} // namespace vantrel::test

// QTEST_MAIN with a clean private home (a QApplication for tests that link widgets).
#define VANTREL_TEST_MAIN(TestObject)                                                                                  \
    QTEST_MAIN_WRAPPER(TestObject, vantrel::test::prepareEnvironment(); QTEST_MAIN_SETUP())
