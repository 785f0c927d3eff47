#pragma once

#include <optional>
#include <string>

// What the command line needs of the terminal and of the operating system's stop requests; one
// implementation per platform.

// True when standard input is a terminal someone can type an answer into.
bool InputIsTerminal();

// One line from standard input without its line break; nothing at the end of input or once a
// stop has been requested. With `echo` false the typed characters are not shown (codes).
std::optional<std::string> ReadInputLine(bool echo);

// From now on Ctrl+C and a termination request (SIGINT, SIGTERM; the console's close events on
// Windows) only raise a flag: the running exchange sees it and ends as aborted, and the program
// leaves the corrector's line as it found it before it ends.
void CatchStopRequests();
bool StopRequested();
// How many stop requests came so far: a wait that goes on after the first stop ends at the next.
int StopRequests();
