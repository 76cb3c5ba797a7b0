#include "Twips.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

namespace tova {

namespace {

void setDesignText(QWidget* control, const QString& text)
{
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(control))
        label->setText(text);
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->setText(text);
}

QWidget* child(QWidget* client, const char* name)
{
    auto* control = client->findChild<QWidget*>(QString::fromLatin1(name));
    Q_ASSERT_X(control, "applyDesign", name);
    return control;
}

} // namespace

void applyDesign(QWidget* client, std::span<const ControlDesign> design)
{
    for (const ControlDesign& row : design) {
        QWidget* control = child(client, row.name);
        control->setGeometry(row.rect());
        if (row.text)
            setDesignText(control, QString::fromUtf8(row.text));
    }
}

void applyTabOrder(QWidget* client, std::span<const char* const> names)
{
    for (size_t i = 1; i < names.size(); ++i)
        QWidget::setTabOrder(child(client, names[i - 1]), child(client, names[i]));
}

} // namespace tova
