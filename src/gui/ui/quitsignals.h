// Ending the program from outside: SIGTERM (a session ending, `kill`),
// SIGINT (Ctrl+C in a terminal) and SIGHUP (the terminal going away) close
// the main window as its Close button does, so the program shuts down in
// order and keeps its settings instead of dying on the spot.
#pragma once

class QWidget;

namespace ui {

// Installs the handlers for `mainWindow`, which must live until the event
// loop has ended; call once, before QApplication::exec(). Modal windows
// (file selection, player, message boxes) run nested event loops inside a
// handler of the main window, so they are closed first, and the main window
// closes only once control is back in the outermost loop. False when the
// handlers could not be installed; the signals then keep their default
// action.
bool closeOnQuitSignals(QWidget *mainWindow);

} // namespace ui
