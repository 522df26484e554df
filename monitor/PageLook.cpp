#include "monitor/PageLook.h"

#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QWidget>

namespace monitor {

QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

void setColor(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

// A filled area (panel, group, header) in one colour.
void fill(QWidget* widget, const QColor& color) {
    widget->setAutoFillBackground(true);
    setColor(widget, QPalette::Window, color);
}

// A disabled control: its colour faded towards grey, so that it plainly
// does nothing, with dark text, so that its value stays readable.
namespace {
const QColor kDisabledText(0x3A, 0x3A, 0x3A);
QColor faded(const QColor& color) {
    const auto mix = [](int c, int grey) { return (c * 35 + grey * 65) / 100; };
    return QColor(mix(color.red(), 0xE4), mix(color.green(), 0xE4), mix(color.blue(), 0xE4));
}
} // namespace

// Field and list backgrounds: line edits and the text part of lists paint
// Base, the arrow part of lists is shaded from Button.
void colorField(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Base, color);
        palette.setColor(group, QPalette::Button, color);
    }
    palette.setColor(QPalette::Disabled, QPalette::Base, faded(color));
    palette.setColor(QPalette::Disabled, QPalette::Button, faded(color));
    palette.setColor(QPalette::Disabled, QPalette::Text, kDisabledText);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, kDisabledText);
    widget->setPalette(palette);
}

void setBold(QWidget* widget, bool italic) {
    QFont font = widget->font();
    font.setBold(true);
    font.setItalic(italic);
    widget->setFont(font);
}

QLabel* header(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameStyle(QFrame::Panel | QFrame::Raised);
    label->setMargin(3);
    return label;
}

QLineEdit* field(const QString& text, bool readOnly, QWidget* parent) {
    auto* edit = new QLineEdit(text, parent);
    edit->setReadOnly(readOnly);
    return edit;
}

} // namespace monitor
