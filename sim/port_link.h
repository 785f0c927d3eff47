#pragma once

#include <string>

// The ports folder of a settings folder maps port numbers to devices: an entry COMn there is a
// symbolic link to the device that port n opens.

// Links DIR/ports/COM<com> to `target`, creating DIR and DIR/ports when missing. A dangling
// link of that name (left by a simulator that was killed) is replaced; anything else is left
// alone and reported, since it may be a real port or another simulator's. On success
// `link_path` is the link.
bool CreatePortLink(const std::string& settings_dir, int com, const std::string& target,
                    std::string& link_path, std::string& error);

// Removes `link_path` if it is still a link to `target`.
void RemovePortLink(const std::string& link_path, const std::string& target);
