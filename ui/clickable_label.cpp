#include "ui/clickable_label.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace tessel::ui {
namespace {

constexpr QColor kFocusMarkColour{27, 51, 88};  // dark navy: clear on white and on the blue

// What assistive technology sees of a ClickableLabel: its role, its name (its accessible name,
// else its text) and a Press action that clicks it.
class AccessibleClickableLabel final : public QAccessibleWidget {
  public:
    explicit AccessibleClickableLabel(ClickableLabel* label) : QAccessibleWidget(label) {}

    QAccessible::Role role() const override { return Label()->AccessibleRole(); }

    QString text(QAccessible::Text kind) const override {
        const QString text = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && text.isEmpty()) return Label()->text();
        return text;
    }

    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (action == pressAction()) {
            if (Label()->isEnabled()) Label()->Click();  // a disabled control cannot be pressed
            return;
        }
        QAccessibleWidget::doAction(action);
    }

    QStringList keyBindingsForAction(const QString& action) const override {
        if (action == pressAction()) return {QStringLiteral("Space"), QStringLiteral("Return")};
        return QAccessibleWidget::keyBindingsForAction(action);
    }

  private:
    ClickableLabel* Label() const { return static_cast<ClickableLabel*>(widget()); }
};

QAccessibleInterface* MakeAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(ClickableLabel::staticMetaObject.className())) return nullptr;
    auto* label = qobject_cast<ClickableLabel*>(object);
    return label != nullptr ? new AccessibleClickableLabel(label) : nullptr;
}

// Space, Return or Enter (the keypad's too), without Shift, Ctrl or Alt.
bool IsPressKey(const QKeyEvent& event) {
    const int key = event.key();
    return (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
           (event.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

}  // namespace

ClickableLabel::ClickableLabel(QWidget* parent) : QLabel(parent) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(&MakeAccessible);
        return true;
    }();
    (void)factoryInstalled;
    setFocusPolicy(Qt::TabFocus);
    setScaledContents(false);  // pictures keep their natural size
}

void ClickableLabel::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click) emit clicked();
}

void ClickableLabel::keyPressEvent(QKeyEvent* event) {
    if (!IsPressKey(*event)) {
        QLabel::keyPressEvent(event);
        return;
    }
    event->accept();
    if (!event->isAutoRepeat()) emit clicked();  // holding the key down presses once
}

void ClickableLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus()) return;
    QPainter painter(this);
    painter.setPen(QPen(kFocusMarkColour, 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace tessel::ui
