#include "monitor/OKBottomDlg.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TOKBottomDlg::TOKBottomDlg(const QString& question, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("VQT540"));
    setModal(true);

    Label1 = new QLabel(question, this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setMinimumWidth(280);
    Label1->setWordWrap(true);

    OKBtn = new QPushButton(QStringLiteral("TAK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("NIE"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    // Esc and the title bar's close button end in reject() as well.
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->setSpacing(16);
    layout->addWidget(Label1, 1);
    layout->addLayout(buttons);
    // A fixed border: the dialog takes the size of its contents.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TOKBottomDlg::SetQuestion(const QString& question) {
    Label1->setText(question);
}

ModalResult TOKBottomDlg::ShowModal() {
    OKBtn->setFocus();
    return exec() == QDialog::Accepted ? ModalResult::Ok : ModalResult::Cancel;
}

void TOKBottomDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}
