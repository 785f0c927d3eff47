#pragma once

class QWidget;

// Turns SIGTERM, SIGINT and SIGHUP into a close() of `window`, delivered through the event
// loop (a signal handler may do nothing but write to a pipe). A no-op where there are no such
// signals.
void CloseOnTerminationRequest(QWidget* window);
