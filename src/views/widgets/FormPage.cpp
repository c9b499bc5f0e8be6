#include "views/widgets/FormPage.h"

#include <QEvent>
#include <QFormLayout>
#include <QFrame>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace vantrel {

FormSection::FormSection(const QString& header, QWidget* parent)
    : QGroupBox(header, parent)
    , m_form(new QFormLayout(this))
{
    // The same row layout on every desktop style: labels leading, fields taking the rest; a row
    // too wide for a narrow window (a long label, a long translation) puts its field below.
    m_form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    m_form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_form->setFormAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void FormSection::addWideRow(QWidget* widget)
{
    m_form->addRow(widget);
}

void FormSection::addIndentedRow(QWidget* widget)
{
    m_indentedRows << widget;
    m_form->addRow(widget);
}

FormPage::FormPage(QWidget* parent)
    : QWidget(parent)
    , m_scrollArea(new QScrollArea(this))
    , m_content(new QWidget)
    , m_sectionsLayout(new QVBoxLayout(m_content))
    , m_pageLayout(new QVBoxLayout(this))
{
    m_scrollArea->setObjectName(QStringLiteral("formScrollArea"));
    m_content->setObjectName(QStringLiteral("formContent"));
    m_sectionsLayout->addStretch(1);
    m_scrollArea->setWidget(m_content);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_content->installEventFilter(this);
    m_pageLayout->setContentsMargins(0, 0, 0, 0);
    m_pageLayout->setSpacing(0);
    m_pageLayout->addWidget(m_scrollArea, 1);
}

FormSection* FormPage::addSection(const QString& header)
{
    return insertSection(-1, header);
}

FormSection* FormPage::insertSection(int index, const QString& header)
{
    auto* section = new FormSection(header, m_content);
    const int count = m_sectionsLayout->count() - 1; // the trailing stretch stays last
    m_sectionsLayout->insertWidget(index < 0 || index > count ? count : index, section);
    return section;
}

QList<FormSection*> FormPage::sections() const
{
    QList<FormSection*> result;
    for (int i = 0; i < m_sectionsLayout->count(); ++i) {
        if (auto* section = qobject_cast<FormSection*>(m_sectionsLayout->itemAt(i)->widget()))
            result << section;
    }
    return result;
}

void FormPage::alignLabelColumns(int minimumWidth)
{
    int width = minimumWidth;
    QList<QWidget*> labels;
    const QList<FormSection*> all = sections();
    for (FormSection* section : all) {
        QFormLayout* form = section->form();
        for (int row = 0; row < form->rowCount(); ++row) {
            QLayoutItem* item = form->itemAt(row, QFormLayout::LabelRole);
            if (QWidget* label = item ? item->widget() : nullptr) {
                label->setMinimumWidth(0);
                labels << label;
                width = std::max(width, label->sizeHint().width());
            }
        }
    }
    for (QWidget* label : std::as_const(labels))
        label->setMinimumWidth(width);
    for (FormSection* section : all) {
        const int spacing = std::max(0, section->form()->horizontalSpacing());
        for (QWidget* row : section->indentedRows()) {
            if (QLayout* layout = row->layout()) {
                QMargins margins = layout->contentsMargins();
                margins.setLeft(width + spacing);
                layout->setContentsMargins(margins);
            }
        }
    }
}

QSize FormPage::minimumSizeHint() const
{
    const int scrollBar = m_scrollArea->verticalScrollBar()->sizeHint().width();
    const int frame = 2 * m_scrollArea->frameWidth();
    const QSize own = QWidget::minimumSizeHint();
    return {std::max(own.width(), m_content->minimumSizeHint().width() + scrollBar + frame), own.height()};
}

bool FormPage::eventFilter(QObject* watched, QEvent* event)
{
    // A section that needs more width (a longer text, a row shown) widens the page.
    if (watched == m_content && event->type() == QEvent::LayoutRequest)
        updateGeometry();
    return QWidget::eventFilter(watched, event);
}

void FormPage::setActionBar(QWidget* bar)
{
    if (bar == m_actionBar)
        return;
    delete m_actionBar;
    delete m_actionBarSeparator; // the hairline above the bar goes with it
    m_actionBar = bar;
    if (!bar)
        return;
    auto* separator = new QFrame(this);
    m_actionBarSeparator = separator;
    separator->setObjectName(QStringLiteral("actionBarSeparator"));
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    bar->setParent(this);
    bar->setAutoFillBackground(true);
    bar->setBackgroundRole(QPalette::Window);
    m_pageLayout->addWidget(separator);
    m_pageLayout->addWidget(bar);
    bar->show();
}

} // namespace vantrel
