#pragma once

#include "cli/cli_host.h"

// vorlix-cli reference: the reference instrument of the settings file, its identification and
// `count` readings in the channel's display unit. Exit code as the other commands give it.
int ReferenceCommand(AppState& state, CliHost& host, bool trace, bool json, int count);
