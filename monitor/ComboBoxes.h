// The window's three kinds of list.
//
// Both classes report only what the user does (userChanged); selections and
// texts set by the program never reach the change handlers.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QStringList>

namespace monitor {

// What the user's typing in a list's text replaced, so that typed text that
// names no item can be taken back; and the item the typing named.
class TypingMemory {
public:
    // Every change of the text, the program's too.
    void shown(const QString& text) {
        Before = Now;
        Now = text;
    }
    // A change typed by the user: the item it names (-1 when none, blank
    // text included), whether its shown() came before this or not.
    int typed(const QString& text, const QStringList& items);
    const QString& beforeTyping() const { return BeforeTyping; }

private:
    QString Now;
    QString Before;
    QString BeforeTyping;
};

// A list that is either pick-only (the user chooses an item, nothing else)
// or an editable drop-down (a text part the user can type into and the
// program can set to any string). The kind can change while the window runs.
class DropDownBox : public QComboBox {
    Q_OBJECT
public:
    enum class Kind { PickOnly, DropDown };

    explicit DropDownBox(Kind kind, QWidget* parent = nullptr);

    Kind kind() const { return isEditable() ? Kind::DropDown : Kind::PickOnly; }
    void setKind(Kind kind);

    // The item the text stands for: with an editable text part the item whose
    // text it equals, -1 for typed text that is no item.
    int itemIndex() const;
    // Selects an item (-1: none, the text part empties) without a change event.
    void setItemIndex(int index);
    // The shown text; setText puts any string into an editable text part and
    // selects the matching item (or none) in a pick-only list.
    QString text() const { return currentText(); }
    void setText(const QString& text);

    // The item the user's last action chose: the picked item, or for typed
    // text the item it equals (-1 when it is none, blank text included).
    int userIndex() const { return UserIndex; }
    // Shows again what the list showed before the user's typing.
    void revertUserText();

    // Says first that the item list is about to open.
    void showPopup() override;

signals:
    // The user picked an item or typed in the text part.
    void userChanged();
    // The item list is about to open: the last moment to bring its items'
    // data up to date.
    void aboutToShowPopup();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void onPicked(int index);
    void onTyped(const QString& text);

    int UserIndex = -1;
    TypingMemory Typing;
};

// A text field without a drop-down button whose item the Up and Down arrow
// keys step; the user may also type any text.
class SimpleComboBox : public QLineEdit {
    Q_OBJECT
public:
    explicit SimpleComboBox(QWidget* parent = nullptr);

    void addItems(const QStringList& items);
    void clearItems();
    int count() const { return static_cast<int>(Items.size()); }
    QString itemText(int index) const { return Items.value(index); }
    QStringList items() const { return Items; }

    // The item whose text is shown, -1 when the text is no item. The text may
    // also be set with setText(); neither fires userChanged.
    int itemIndex() const { return static_cast<int>(Items.indexOf(text())); }
    // Shows an item's text (-1: none, the text empties).
    void setItemIndex(int index) {
        if (text() != Items.value(index)) setText(Items.value(index));
    }

    // As for DropDownBox.
    int userIndex() const { return UserIndex; }
    void revertUserText();

signals:
    // The user stepped to another item or typed.
    void userChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onTyped(const QString& text);

    QStringList Items;
    int UserIndex = -1;
    TypingMemory Typing;
};

} // namespace monitor
