// Question before an existing export file is replaced.
#pragma once

#include "monitor/OKBottomDlg.h"

class TOKBottomDlg1 : public TOKBottomDlg {
    Q_OBJECT
public:
    explicit TOKBottomDlg1(QWidget* parent = nullptr);
};
