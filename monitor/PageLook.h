// The look the pages share: the window's colours, filled areas, coloured
// fields and bold captions.
#pragma once

#include <QColor>
#include <QPalette>
#include <QString>
#include <QStringList>

#include <array>
#include <string_view>

class QLabel;
class QLineEdit;
class QWidget;

namespace monitor {

inline const QColor kSkyBlue(0xA6, 0xCA, 0xF0);
inline const QColor kAqua(0x00, 0xFF, 0xFF);
inline const QColor kMaroon(0x80, 0x00, 0x00);
inline const QColor kNavy(0x00, 0x00, 0x80);
inline const QColor kBlue(0x00, 0x00, 0xFF);
inline const QColor kRed(0xFF, 0x00, 0x00);
inline const QColor kYellow(0xFF, 0xFF, 0x00);
// The meter's values while they are not current: still readable, plainly not live.
inline const QColor kStaleText(0x80, 0x80, 0x80);
inline const QColor kStaleAlarm(0xE0, 0x90, 0x90);

QString text(std::string_view utf8);
void setColor(QWidget* widget, QPalette::ColorRole role, const QColor& color);
// A filled area (panel, group, header) in one colour.
void fill(QWidget* widget, const QColor& color);
// Field and list backgrounds, faded towards grey with readable dark text
// when disabled.
void colorField(QWidget* widget, const QColor& color);
void setBold(QWidget* widget, bool italic = false);
QLabel* header(const QString& text, QWidget* parent);
QLineEdit* field(const QString& text, bool readOnly, QWidget* parent);

// A model's table as list items.
template <size_t N> QStringList items(const std::array<std::string_view, N>& table) {
    QStringList out;
    for (const std::string_view item : table) out << text(item);
    return out;
}

} // namespace monitor
