// The yes/no question dialog that the two confirmation dialogs share; the
// windows ask it through monitor::Dialogs::Ask.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

enum class ModalResult { Ok, Cancel };

class TOKBottomDlg : public QDialog {
    Q_OBJECT
public:
    explicit TOKBottomDlg(const QString& question, QWidget* parent = nullptr);

    // Shows the dialog modally: Ok for "TAK"; Cancel for "NIE", Esc and the
    // title bar's close button.
    ModalResult ShowModal();
    // The question in Label1, for a dialog asked again with other words.
    void SetQuestion(const QString& question);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* Label1;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
};
