#include "monitor/DZakoncz.h"

TOKBottomDlg2::TOKBottomDlg2(QWidget* parent)
    : TOKBottomDlg(QStringLiteral("Zakończyć odczyt danych z archiwum ?"), parent) {
    setObjectName(QStringLiteral("OKBottomDlg2"));
}
