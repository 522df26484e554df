#include "monitor/ComboBoxes.h"

#include <QKeyEvent>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <algorithm>

namespace monitor {

DropDownBox::DropDownBox(Kind kind, QWidget* parent) : QComboBox(parent) {
    // Typed text stays text: it never becomes a new item.
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(16);
    connect(this, &QComboBox::activated, this, &DropDownBox::onPicked);
    // Every change of the text part, the program's too: what to show again
    // when typed text names no item.
    connect(this, &QComboBox::editTextChanged, this, [this](const QString& text) { Typing.shown(text); });
    setKind(kind);
}

int TypingMemory::typed(const QString& text, const QStringList& items) {
    BeforeTyping = Now == text ? Before : Now;
    if (text.trimmed().isEmpty()) return -1; // clearing the text picks no blank item
    return static_cast<int>(items.indexOf(text));
}

void DropDownBox::onPicked(int index) {
    UserIndex = index;
    emit userChanged();
}

void DropDownBox::onTyped(const QString& text) {
    QStringList items;
    for (int i = 0; i < count(); ++i) items << itemText(i);
    UserIndex = Typing.typed(text, items);
    emit userChanged();
}

void DropDownBox::revertUserText() {
    if (isEditable()) setText(Typing.beforeTyping());
}

void DropDownBox::setKind(Kind kind) {
    if (kind == this->kind()) return;
    if (kind == Kind::PickOnly) {
        // A pick-only list shows an item: typed text that is none goes.
        const int index = itemIndex();
        setEditable(false);
        setCurrentIndex(index);
        return;
    }
    const QString shown = currentText();
    setEditable(true);
    setCompleter(nullptr); // the user's text stays as typed
    // The text part is a new line edit after each switch.
    connect(lineEdit(), &QLineEdit::textEdited, this, &DropDownBox::onTyped);
    lineEdit()->setText(shown);
}

int DropDownBox::itemIndex() const {
    if (!isEditable()) return currentIndex();
    const int index = currentIndex();
    if (index >= 0 && itemText(index) == currentText()) return index;
    return findText(currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void DropDownBox::setItemIndex(int index) {
    if (index < 0 || index >= count()) index = -1;
    setCurrentIndex(index);
    if (isEditable() && index >= 0) setEditText(itemText(index));
}

void DropDownBox::setText(const QString& text) {
    if (isEditable()) {
        const int index = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0) setCurrentIndex(index);
        setEditText(text);
    } else {
        setCurrentIndex(findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
}

void DropDownBox::showPopup() {
    emit aboutToShowPopup();
    QComboBox::showPopup();
}

void DropDownBox::paintEvent(QPaintEvent* event) {
    if (isEditable()) {
        QComboBox::paintEvent(event);
        return;
    }
    // Styles such as Fusion shade a pick-only face from the Button colour into
    // a pale gradient: the text part is filled with the field colour (Base)
    // instead, so that the list looks the same in both kinds.
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.fillRect(
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this),
        palette().brush(QPalette::Base));
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

SimpleComboBox::SimpleComboBox(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { Typing.shown(text); });
    connect(this, &QLineEdit::textEdited, this, &SimpleComboBox::onTyped);
}

void SimpleComboBox::onTyped(const QString& text) {
    UserIndex = Typing.typed(text, Items);
    emit userChanged();
}

void SimpleComboBox::revertUserText() {
    setText(Typing.beforeTyping());
}

void SimpleComboBox::addItems(const QStringList& items) {
    Items += items;
}

void SimpleComboBox::clearItems() {
    Items.clear();
}

void SimpleComboBox::keyPressEvent(QKeyEvent* event) {
    const bool up = event->key() == Qt::Key_Up;
    const bool down = event->key() == Qt::Key_Down;
    if ((!up && !down) || (event->modifiers() & ~Qt::KeypadModifier)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    if (Items.isEmpty() || isReadOnly()) return;
    const int index = itemIndex();
    int next = 0;
    if (index >= 0) next = up ? std::max(index - 1, 0) : std::min(index + 1, count() - 1);
    if (next == index) return;
    setText(Items[next]);
    selectAll();
    UserIndex = next;
    emit userChanged();
}

} // namespace monitor
