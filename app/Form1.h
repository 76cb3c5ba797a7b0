#pragma once

#include "Form.h"
#include "MSComm.h"

namespace tova {

// The main window: finds the modem, drives the line and opens the other windows.
class Form1 : public Form {
    Q_OBJECT
public:
    Form1();

    MSComm MSComm1;

protected:
    void Form_Load() override;
    void Form_Unload(short& Cancel) override;
};

} // namespace tova
