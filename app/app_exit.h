// The one way the program ends, whoever asks: the tray menu, closing the download window, the
// runtime installer's close, the end of the Windows session.
#pragma once

// Ends the program in one order (UI thread): the browser and the download window, the tray icon and
// its window, the server thread, the workers, COM; then ends the message loop with 0. Only the first
// call acts. Bounded in time: a server connection or worker that does not stop within its wait is
// let go, and FinishApplication then ends the process without destroying what they use.
void ExitApplication();

// Registers the exit path and the window requests with the layers below, which call up through
// them. Called at start-up, before any other thread runs; `ownsCom` says that start-up entered COM
// on this thread, which the exit then leaves last.
void ConnectApplication(bool ownsCom);

// Whether ExitApplication saw every thread end.
bool ExitWasClean();
