#pragma once

#include <string>
#include <vector>

// vorlix-cli: the arguments after the program name in, the exit code (cli/exit_codes.h) out.
int RunCli(const std::vector<std::string>& args);

// The text of --help, exit codes included.
std::string CliHelp();
