#pragma once

#include <functional>

class QObject;

// Turns SIGTERM, SIGINT and SIGHUP into a call of `request`, delivered through the event loop
// of `context` (a signal handler may do nothing but write to a pipe). A no-op where there are
// no such signals.
void OnTerminationRequest(QObject* context, std::function<void()> request);
