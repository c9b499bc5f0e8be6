#include "views/main/AboutView.h"

namespace vantrel {

AboutView::AboutView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("AboutView"));
    setFixedSize(contentWidth, contentHeight);
}

} // namespace vantrel
