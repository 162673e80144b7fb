// The application object: it runs the main window as a modal dialog and ends with it.
#pragma once

#include "WinApp.h"

class CMonitorApp : public CWinApp {
public:
    BOOL InitInstance() override;
};
