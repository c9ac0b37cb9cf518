#pragma once

#include "messagebox.h"

// The real message box: modal, with the exclamation (warning) icon.
class WidgetMessageBox final : public MessageBox
{
public:
    Answer exclamation(const QString &text, const QString &title, Buttons buttons) override;
};
