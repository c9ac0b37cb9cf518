#pragma once

#include "clock.h"
#include "messagebox.h"
#include "shellopen.h"

#include <QList>
#include <QStringList>

// Records every box instead of showing it, and answers as told.
class RecordingMessageBox final : public MessageBox
{
public:
    struct Shown
    {
        QString text;
        QString title;
        Buttons buttons;
    };

    Answer exclamation(const QString &text, const QString &title, Buttons buttons) override
    {
        shown.append({text, title, buttons});
        return answer;
    }
    QStringList texts() const
    {
        QStringList t;
        for (const Shown &s : shown)
            t.append(s.text);
        return t;
    }

    QList<Shown> shown;
    Answer answer = Answer::Ok;
};

// A clock that shows what the test sets.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(QDateTime start)
        : time(std::move(start)) { }
    QDateTime now() const override { return time; }
    void advance(qint64 seconds) { time = time.addSecs(seconds); }

    QDateTime time;
};

class RecordingShellOpen final : public ShellOpen
{
public:
    void open(const QString &path) override { opened.append(path); }
    QStringList opened;
};
