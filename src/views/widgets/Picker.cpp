#include "views/widgets/Picker.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>

#include <mutex>

namespace vantrel {

namespace {

class AccessiblePicker final : public QAccessibleWidget {
public:
    explicit AccessiblePicker(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::ComboBox)
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Value ? picker()->currentText() : QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = picker()->view()->isVisible();
        state.collapsed = !state.expanded;
        return state;
    }

    // The choices, as the pop-up list holds them.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(picker()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == picker()->view() ? 0 : -1;
    }

    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override
    {
        if (action != showMenuAction() && action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (picker()->view()->isVisible())
            picker()->hidePopup();
        else
            picker()->showPopup();
    }

private:
    Picker* picker() const { return static_cast<Picker*>(widget()); }
};

QAccessibleInterface* pickerAccessibility(const QString& className, QObject* object)
{
    if (className == QLatin1String(Picker::staticMetaObject.className()) && object && object->isWidgetType())
        return new AccessiblePicker(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

Picker::Picker(QWidget* parent)
    : QComboBox(parent)
{
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(&pickerAccessibility); });
}

} // namespace vantrel
