#pragma once

#include <functional>

// A run of the program: the application, the real seams, the main window.
// whenShown, if given, runs once the main window is first on screen (the
// start-up benchmark uses it to stop there).
int runLintra(int &argc, char **argv, const std::function<void()> &whenShown = {});
