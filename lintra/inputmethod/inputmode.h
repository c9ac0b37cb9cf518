#pragma once

// The input-method start mode of a text box: Japanese kana input or the
// plain keyboard. Asking never waits for the framework and never fails
// visibly; where no framework answers, nothing happens.
class InputMode
{
public:
    enum class Mode { Hiragana, Off };

    virtual ~InputMode() = default;
    virtual void request(Mode mode) = 0;
};
