#include "ui/accessible_roles.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QLabel>
#include <QVariant>
#include <QWidget>

namespace tessel::ui {
namespace {

// The dynamic property that holds the role a widget was given.
constexpr char kRoleProperty[] = "tesselAccessibleRole";

// A widget with the role it was given. A key binding is not offered for the Press action: a
// screen reader would read it out after the name as a shortcut.
class WidgetWithRole final : public QAccessibleWidget {
  public:
    WidgetWithRole(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

    QString text(QAccessible::Text kind) const override {
        const QString text = QAccessibleWidget::text(kind);
        if (kind != QAccessible::Name || !text.isEmpty()) return text;
        if (const auto* label = qobject_cast<const QLabel*>(widget())) return label->text();
        if (const auto* button = Button()) return button->text();
        return text;
    }

    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (Button() != nullptr && widget()->isEnabled()) names.prepend(pressAction());
        return names;
    }

    void doAction(const QString& action) override {
        if (action != pressAction() || Button() == nullptr) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (widget()->isEnabled()) Button()->click();
    }

  private:
    QAbstractButton* Button() const { return qobject_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* MakeWithRole(const QString& /*className*/, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) return nullptr;
    const QVariant role = object->property(kRoleProperty);
    if (!role.isValid()) return nullptr;
    return new WidgetWithRole(static_cast<QWidget*>(object),
                              static_cast<QAccessible::Role>(role.toInt()));
}

}  // namespace

void SetAccessibleRole(QWidget& widget, QAccessible::Role role) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(&MakeWithRole);
        return true;
    }();
    (void)factoryInstalled;
    widget.setProperty(kRoleProperty, static_cast<int>(role));
    // While a screen reader listens, Qt makes a widget's interface on its first accessibility
    // event, which may come before the role is given; such an interface is dropped, so that the
    // next question makes one with the role.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&widget);
    if (made != nullptr && made->role() != role)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

void AnnounceNews(QWidget& notification) {
    // Screen readers read a notification out when it is shown; a changed name alone they pass
    // over.
    QAccessibleEvent shown(&notification, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

}  // namespace tessel::ui
