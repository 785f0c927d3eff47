// vorlix-cli: the sensors' service commands from a terminal, for benches and scripts.

#include <string>
#include <vector>

#include "cli/cli_app.h"

int main(int argc, char** argv) {
  return RunCli(std::vector<std::string>(argv + 1, argv + argc));
}
