#pragma once

#include <string>

struct AppState;

// True when the settings file names a port for the reference instrument.
bool ReferenceConfigured(const AppState& state);

// Opens the reference instrument of the settings file (again, when it was lost or its settings
// have changed since) with its traffic on the run's tap. False with the reason in `error`;
// the link is then closed.
bool OpenReference(AppState& state, std::string& error);

// Closes the reference's port, if open.
void CloseReference(AppState& state);
