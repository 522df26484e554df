// A strong frame around the widget of its window that has the keyboard
// focus, drawn over the window: the style's own mark is faint on the
// coloured fields and lost on the navy face of "Zeruj licznik".
#pragma once

#include <QPointer>
#include <QWidget>

namespace monitor {

class FocusRing : public QWidget {
    Q_OBJECT
public:
    // Follows the focus within `window`, whose child it becomes.
    explicit FocusRing(QWidget* window);
    // The widget framed now; none while the ring is hidden.
    QWidget* target() const { return isVisible() ? Target.data() : nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow(QWidget* now);
    void place();
    void watch(bool on);

    QPointer<QWidget> Target;
};

} // namespace monitor
