// Questions while an archive download is being stopped.
#pragma once

#include "monitor/OKBottomDlg.h"

class TOKBottomDlg2 : public TOKBottomDlg {
    Q_OBJECT
public:
    explicit TOKBottomDlg2(QWidget* parent = nullptr);
};
