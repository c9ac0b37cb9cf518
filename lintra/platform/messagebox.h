#pragma once

#include <QString>

// The message boxes of the design: OK or OK/Cancel, an exclamation icon, a
// title. Replaced by a recording fake in tests.
class MessageBox
{
public:
    enum class Buttons { Ok, OkCancel };
    enum class Answer { Ok, Cancel };

    virtual ~MessageBox() = default;
    // Shows the box and returns once the user has dismissed it.
    virtual Answer exclamation(const QString &text, const QString &title,
                               Buttons buttons = Buttons::Ok) = 0;
};
