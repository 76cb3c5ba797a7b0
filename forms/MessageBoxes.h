#pragma once

#include "AppInfo.h"
#include "Seam.h"

class QWidget;

namespace tova {

enum MsgBoxStyle : int {
    vbOKOnly = 0,
    vbYesNoCancel = 3,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
};
enum MsgBoxResult : int { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };

// Modal message boxes. Returns one of MsgBoxResult.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual int show(QWidget* parent, const QString& prompt, int style, const QString& title) = 0;
};

class QtMessageBoxes : public MessageBoxes {
public:
    int show(QWidget* parent, const QString& prompt, int style, const QString& title) override;
};

using MessageBoxSeam = Seam<MessageBoxes, QtMessageBoxes>;

// The window font, set for the whole application: message boxes and dialogs have no window of
// their own to take it from, and one may come before any window (the start-up's).
void useWindowFont();

inline int MsgBox(const QString& prompt, int style = vbOKOnly, const QString& title = kAppTitle,
                  QWidget* parent = nullptr)
{
    useWindowFont();
    return MessageBoxSeam::get().show(parent, prompt, style, title);
}

} // namespace tova
