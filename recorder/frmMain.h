#pragma once

#include "Form.h"

namespace tova {

// The recorder window: records the call and stores it when it closes.
class frmMain : public Form {
    Q_OBJECT
public:
    frmMain();
};

} // namespace tova
