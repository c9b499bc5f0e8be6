#include "views/main/MainDetailColumn.h"

#include "platform/Localization.h"
#include "views/widgets/ElidedLabel.h"
#include "views/widgets/FlowLayout.h"
#include "views/widgets/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

namespace vantrel {

namespace {

ElidedLabel* elidedLabel(const QString& text, Theme::TextStyle style, Theme::Color tint, const QString& objectName)
{
    auto* label = new ElidedLabel(text);
    label->setObjectName(objectName);
    Theme::setTextStyle(label, style);
    Theme::setTint(label, tint);
    return label;
}

// A rounded card on the control background with a hairline border.
class CardFrame final : public QFrame {
public:
    explicit CardFrame(QWidget* parent = nullptr)
        : QFrame(parent)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath shape;
        shape.addRoundedRect(bounds, 8, 8);
        painter.fillPath(shape, Theme::color(Theme::Color::controlBackground, palette()));
        painter.setPen(QPen(Theme::color(Theme::Color::separator, palette()), 1));
        painter.drawPath(shape);
    }
};

} // namespace

MainDetailColumn::MainDetailColumn(QWidget* parent)
    : QStackedWidget(parent)
    , m_editorPage(new QWidget)
    , m_editorLayout(new QVBoxLayout(m_editorPage))
{
    setObjectName(QStringLiteral("detailColumn"));
    m_editorPage->setObjectName(QStringLiteral("editorPage"));
    m_editorLayout->setContentsMargins(0, 0, 0, 0);
    addWidget(m_editorPage);
    m_mountedPage = buildMountedFoldersPage();
    addWidget(m_mountedPage);
    m_placeholder = buildPlaceholder();
    addWidget(m_placeholder);
}

QWidget* MainDetailColumn::buildMountedFoldersPage()
{
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("mountedFolders"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* section = new QWidget;
    auto* sectionLayout = new QVBoxLayout(section);
    const int side = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    sectionLayout->setContentsMargins(side, 24, side, 24);
    sectionLayout->setSpacing(16);
    QLabel* title = Theme::label(
        Localization::text(QStringLiteral("main.mountedFoldersTitle"), QStringLiteral("已挂载的文件夹")),
        Theme::TextStyle::title2, Theme::Color::primary);
    title->setObjectName(QStringLiteral("mountedFoldersTitle"));
    title->setWordWrap(false);
    title->setAlignment(Qt::AlignHCenter);
    sectionLayout->addWidget(title);
    auto* cardsHost = new QWidget;
    cardsHost->setObjectName(QStringLiteral("mountedFolderCards"));
    m_cards = new FlowLayout(cardMinimumWidth, cardsHost);
    m_cards->setContentsMargins(0, 0, 0, 0);
    m_cards->setRowSpacing(16);
    sectionLayout->addWidget(cardsHost);
    sectionLayout->addStretch();
    scroll->setWidget(section);
    return scroll;
}

QWidget* MainDetailColumn::buildPlaceholder()
{
    auto* placeholder = new QWidget;
    placeholder->setObjectName(QStringLiteral("detailPlaceholder"));
    auto* layout = new QVBoxLayout(placeholder);
    layout->setSpacing(12);
    // Wrapped texts are centred by stretches rather than by alignment: the column then measures
    // their lines at the width they get, not at its own, and gives them all the height they need.
    // Each takes the room its text needs on one line, when the column has it, and wraps only then.
    const auto addCentred = [layout](QLabel* label) {
        const int oneLine = label->fontMetrics().horizontalAdvance(label->text()) + 2;
        label->setMaximumWidth(std::min(label->maximumWidth(), oneLine));
        auto* row = new QHBoxLayout;
        row->addStretch(0);
        row->addWidget(label, 1);
        row->addStretch(0);
        layout->addLayout(row);
    };
    layout->addStretch();
    layout->addWidget(Theme::symbolLabel(QStringLiteral("externaldrive.connected.to.line.below"),
                          Theme::Color::secondary, QFontMetrics(Theme::systemFont(48)).height()),
        0, Qt::AlignHCenter);
    QLabel* title = Theme::label(
        Localization::text(QStringLiteral("main.selectOrAddNAS"), QStringLiteral("选择或添加一台 NAS")),
        Theme::TextStyle::title3, Theme::Color::secondary);
    title->setObjectName(QStringLiteral("placeholderTitle"));
    title->setAlignment(Qt::AlignHCenter);
    addCentred(title);
    QLabel* hint = Theme::label(Localization::text(QStringLiteral("main.emptyDetailHint"),
                                    QStringLiteral("从左侧列表选择已有配置，或点击上方按钮添加新的 NAS")),
        Theme::TextStyle::caption, Theme::Color::tertiary);
    hint->setObjectName(QStringLiteral("placeholderHint"));
    hint->setAlignment(Qt::AlignHCenter);
    hint->setMaximumWidth(250);
    addCentred(hint);
    layout->addStretch();
    return placeholder;
}

QWidget* MainDetailColumn::buildCard(const MountedEntry& entry)
{
    auto* card = new CardFrame;
    card->setObjectName(QStringLiteral("mountedFolderCard"));
    card->setProperty("configID", entry.config.id);
    auto* layout = new QVBoxLayout(card);
    layout->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(Theme::symbolLabel(QStringLiteral("externaldrive.fill"), Theme::Color::green,
        Theme::symbolSize(Theme::TextStyle::title2)));
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    names->addWidget(
        elidedLabel(entry.config.name, Theme::TextStyle::headline, Theme::Color::primary, QStringLiteral("name")));
    names->addWidget(elidedLabel(entry.config.address, Theme::TextStyle::caption, Theme::Color::secondary,
        QStringLiteral("address")));
    header->addLayout(names, 1);
    layout->addLayout(header);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    const QUrl mountPoint = *entry.status.mountPoint;
    auto* pathRow = new QHBoxLayout;
    pathRow->setSpacing(4);
    pathRow->addWidget(Theme::symbolLabel(QStringLiteral("folder"), Theme::Color::secondary,
        Theme::symbolSize(Theme::TextStyle::caption)));
    pathRow->addWidget(elidedLabel(mountPoint.toLocalFile(), Theme::TextStyle::caption, Theme::Color::secondary,
                           QStringLiteral("path")),
        1);
    layout->addLayout(pathRow);

    auto* open = new QPushButton(
        Localization::text(QStringLiteral("main.openInFinder"), QStringLiteral("在 Finder 中打开")));
    open->setObjectName(QStringLiteral("openInFinder"));
    Theme::setTextStyle(open, Theme::TextStyle::callout);
    Theme::setSymbol(open, QStringLiteral("arrow.up.forward.app"), Theme::Color::primary,
        Theme::symbolSize(Theme::TextStyle::callout));
    connect(open, &QPushButton::clicked, this, [this, mountPoint] { emit openRequested(mountPoint); });
    layout->addWidget(open, 0, Qt::AlignLeft);
    return card;
}

QWidget* MainDetailColumn::currentDetail() const
{
    QWidget* page = currentWidget();
    return page == m_editorPage ? m_editor.data() : page;
}

void MainDetailColumn::showEditor(const QUuid& configID, const std::function<QWidget*()>& build)
{
    if (!m_editor || m_editorConfigID != configID) {
        removeEditor();
        m_editor = build();
        m_editorConfigID = configID;
        if (m_editor)
            m_editorLayout->addWidget(m_editor);
    }
    setCurrentWidget(m_editorPage);
}

void MainDetailColumn::removeEditor()
{
    if (m_editor) {
        // The editor may be the one asking (its close action): it goes once it returns.
        m_editor->hide();
        m_editor->deleteLater();
        m_editor = nullptr;
    }
    m_editorConfigID = QUuid();
}

void MainDetailColumn::showMountedFolders(const QList<MountedEntry>& entries)
{
    removeEditor();
    if (entries != m_shownEntries) {
        m_shownEntries = entries;
        while (QLayoutItem* item = m_cards->takeAt(0)) {
            if (QWidget* card = item->widget()) {
                card->hide();
                card->deleteLater();
            }
            delete item;
        }
        for (const MountedEntry& entry : entries)
            m_cards->addWidget(buildCard(entry));
    }
    setCurrentWidget(entries.isEmpty() ? m_placeholder : m_mountedPage);
}

} // namespace vantrel
