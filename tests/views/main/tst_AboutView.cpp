#include "support/RecordingWorkspace.h"
#include "support/TestMain.h"

#include "platform/AppInfo.h"
#include "platform/Localization.h"
#include "views/main/AboutView.h"

#include <QLabel>
#include <QToolButton>

using namespace vantrel;

namespace {

QString versionLine(const QVariantMap& info)
{
    test::RecordingWorkspace workspace;
    AboutView view(info, workspace);
    return view.findChild<QLabel*>(QStringLiteral("version"))->text();
}

} // namespace

class TestAboutView : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Localization::useCatalog(QString()); }

    void showsNameVersionAndBuild()
    {
        test::RecordingWorkspace workspace;
        AboutView view({{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("2.4.1")},
                           {QStringLiteral("CFBundleVersion"), QStringLiteral("318")}},
            workspace);
        QCOMPARE(view.size(), QSize(360, 280));
        QCOMPARE(view.findChild<QLabel*>(QStringLiteral("name"))->text(), QStringLiteral("Vantrel"));
        QCOMPARE(view.findChild<QLabel*>(QStringLiteral("version"))->text(), QStringLiteral("Version 2.4.1 (318)"));
        QCOMPARE(view.findChild<QLabel*>(QStringLiteral("icon"))->property("symbol").toString(),
            QStringLiteral("externaldrive.connected.to.line.below"));
        QCOMPARE(view.findChild<QLabel*>(QStringLiteral("icon"))->property("tint").toString(), QStringLiteral("blue"));

        // The application's own values by default.
        QCOMPARE(versionLine(AppInfo::infoDictionary()),
            QStringLiteral("Version %1 (%2)").arg(AppInfo::version(), AppInfo::buildNumber()));
    }

    void aMissingOrUnusableValueShowsItsFallback()
    {
        QCOMPARE(versionLine({}), QStringLiteral("Version 0.1.0 (1)"));
        // Not text: a number, a list, a boolean; and text that would leave a gap.
        QCOMPARE(versionLine({{QStringLiteral("CFBundleShortVersionString"), 3},
                     {QStringLiteral("CFBundleVersion"), QStringLiteral("77")}}),
            QStringLiteral("Version 0.1.0 (77)"));
        QCOMPARE(versionLine({{QStringLiteral("CFBundleShortVersionString"), QStringList{QStringLiteral("1.0")}},
                     {QStringLiteral("CFBundleVersion"), true}}),
            QStringLiteral("Version 0.1.0 (1)"));
        QCOMPARE(versionLine({{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.2")},
                     {QStringLiteral("CFBundleVersion"), QStringLiteral("  ")}}),
            QStringLiteral("Version 1.2 (1)"));
        QCOMPARE(versionLine({{QStringLiteral("CFBundleShortVersionString"), QVariant()},
                     {QStringLiteral("CFBundleVersion"), 12.5}}),
            QStringLiteral("Version 0.1.0 (1)"));
    }

    void theThreeLinksOpenInOrder()
    {
        test::RecordingWorkspace workspace;
        AboutView view(AppInfo::infoDictionary(), workspace);
        const QList<QToolButton*> links = view.linkButtons();
        QCOMPARE(links.size(), 3);
        QStringList names;
        QStringList texts;
        QStringList symbols;
        for (QToolButton* link : links) {
            names << link->objectName();
            texts << link->text();
            symbols << link->property("symbol").toString();
            link->click();
        }
        QCOMPARE(names, (QStringList{"link.website", "link.feedback", "link.documentation"}));
        QCOMPARE(texts, (QStringList{"官网", "反馈", "文档"}));
        QCOMPARE(symbols, (QStringList{"globe", "bubble.left.and.bubble.right", "doc.text"}));
        QCOMPARE(workspace.opened,
            (QList<QUrl>{QUrl(QStringLiteral("https://vantrel.app")),
                QUrl(QStringLiteral("https://vantrel.app/feedback")),
                QUrl(QStringLiteral("https://vantrel.app/docs"))}));
        // The buttons are laid out left to right in that order.
        view.show();
        QVERIFY(links[0]->x() < links[1]->x() && links[1]->x() < links[2]->x());
    }

    void theWindowHasTheAboutTitleAndOnlyAClose()
    {
        test::RecordingWorkspace workspace;
        std::unique_ptr<QWidget> window(AboutView::makeWindow(new AboutView(AppInfo::infoDictionary(), workspace)));
        QVERIFY(window->isWindow());
        QCOMPARE(window->windowTitle(), QStringLiteral("关于 Vantrel"));
        QVERIFY(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!window->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(window->size(), QSize(360, 280));
    }
};

VANTREL_TEST_MAIN(TestAboutView)
#include "tst_AboutView.moc"
