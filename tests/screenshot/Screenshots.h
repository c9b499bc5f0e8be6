#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QWidget>

#include <functional>

namespace vantrel::test {

struct ViewFixture;

// The windows the screenshot tool can draw. A window is added by appending an entry to
// screenshotWindows() in Screenshots.cpp.
struct ScreenshotWindow {
    QString name;  // the tool's first argument
    QString title; // the window's title (already localized)
    QSize size;    // the window's size; an empty size takes the content's size hint
    // Builds the content on the fixture, whose sample shares are loaded already.
    std::function<QWidget*(ViewFixture& fixture)> makeContent;
};

// Built after the interface language has been chosen, so the titles are in that language.
QList<ScreenshotWindow> screenshotWindows();

} // namespace vantrel::test
