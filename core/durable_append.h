#pragma once

#include <string>

// The system's reason for a failed file operation, in the user's language; an unexpected one
// keeps its number.
std::string FileErrorText(int err);

// Appends `text` to the file at `path` (created when missing) in one write and flushes it to
// the disk before returning, so that a record reported as kept survives a crash or a power
// cut. False with the reason in `error` when it could not.
bool AppendDurably(const std::string& path, const std::string& text, std::string& error);
