// The About box, reached from the main window's system menu.
#pragma once

#include "Dialog.h"

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(CWnd* pParent = nullptr);
};
