#pragma once

#include <QStringList>

// bench_lan --links [--tries N] [--check]: refreshes of 1,000 lines over a
// good LAN and over a slow, a lossy and a distant one, each in its own shaped
// LAN. Returns the process's exit code: with --check, 1 when any reply came
// fragmented or run together with the next, 77 when the LAN cannot be made.
int runLinks(const QStringList &arguments);
