#pragma once

// Program start: arguments, the data folder, the database, the main window
// and the message loop. Returns the exit status.
int korvaneMain(int argc, char** argv);
