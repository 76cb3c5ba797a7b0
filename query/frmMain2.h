#pragma once

#include "Form.h"

namespace tova {

// The query window: lists the recordings and plays the chosen one.
class frmMain2 : public Form {
    Q_OBJECT
public:
    frmMain2();
};

} // namespace tova
