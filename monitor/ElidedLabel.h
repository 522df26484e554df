// A one-line label that shares its row: too long for its room, it ends in
// "…" and says the whole text in its tooltip, instead of widening the window
// or pushing its neighbours out.
#pragma once

#include <QLabel>

namespace monitor {

class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    // Sets the text and, beside it, what the tooltip adds (empty: the text
    // itself when it is cut).
    void setText(const QString& text, const QString& tooltip = {});
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateTip();
    QString Tip;
};

} // namespace monitor
