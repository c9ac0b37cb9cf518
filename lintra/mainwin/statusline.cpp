#include "statusline.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

const QString Role = QStringLiteral("状態");

class StatusLineAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit StatusLineAccessible(QWidget *w) : QAccessibleWidget(w, QAccessible::StatusBar) { }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name || t == QAccessible::Value)
            return label()->text();
        if (t == QAccessible::Description)
            return Role;
        return QAccessibleWidget::text(t);
    }

    // Read-only text: no selection, no caret.
    void selection(int, int *start, int *end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override { }
    void removeSelection(int) override { }
    void setSelection(int, int, int) override { }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override { }
    QString text(int start, int end) const override { return label()->text().mid(start, end - start); }
    int characterCount() const override { return int(label()->text().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override { }
    QString attributes(int, int *start, int *end) const override
    {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    const QLabel *label() const { return static_cast<const QLabel *>(widget()); }
};

QAccessibleInterface *statusLineFactory(const QString &, QObject *object)
{
    if (auto *line = qobject_cast<StatusLine *>(object))
        return new StatusLineAccessible(line);
    return nullptr;
}

} // namespace

StatusLine::StatusLine(QWidget *parent) : QLabel(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(statusLineFactory);
        return true;
    }();
    Q_UNUSED(installed);
    setObjectName(QStringLiteral("SB"));
    setTextFormat(Qt::PlainText);
    setAccessibleDescription(Role);
}

void StatusLine::setStatus(const QString &text)
{
    const QString old = this->text();
    setText(text);
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent update(this, 0, old, text);
        QAccessible::updateAccessibility(&update);
        QAccessibleEvent name(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&name);
    }
}
