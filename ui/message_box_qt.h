// Shows the program's message boxes with Qt, on the UI thread, for callers on any thread.
#pragma once

void InstallQtMessageBoxHandler();
