#include "monitor/DPlik.h"

TOKBottomDlg1::TOKBottomDlg1(QWidget* parent)
    : TOKBottomDlg(QStringLiteral("Plik istnieje. Zastąpić nowym ?"), parent) {
    setObjectName(QStringLiteral("OKBottomDlg1"));
}
