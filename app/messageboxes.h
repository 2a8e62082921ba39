// The main window's message boxes: modal to the main window, with an error icon. Error boxes open
// without waiting (the queue goes on while one is open); only the close question waits.
#pragma once

// From the main window's construction on, the boxes of code without widgets are these.
void InstallMainFormBoxes();
// At its end they go back to the standard error stream.
void RemoveMainFormBoxes();
