// The status bar's labels: the result line, whose counters always show, and
// the labels that share the line under it.
#pragma once

#include <QLabel>

class QFontMetrics;

namespace monitor {

// The result line as it fits into `width`: the exact text when it does, else
// with its runs of blanks narrowed and, if that is not enough, the result
// text cut short, so that the counters at its end always show.
QString FittedResultLine(const QString& text, const QFontMetrics& metrics, int width);

// Shows the result line fitted; text() and the tooltip keep it exact.
class ResultLabel : public QLabel {
    Q_OBJECT
public:
    explicit ResultLabel(QWidget* parent = nullptr);
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A one-line label that shares its row: too long for its room, it ends in
// "…" and says the whole text in its tooltip, instead of widening the window
// or pushing its neighbours out.
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
