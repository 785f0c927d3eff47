#pragma once

// Our side of the line as the application opens it: a port number mapped to a device through
// a ports folder, opened and set up by the serial layer, wrapped as a SerialLine.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "comm/comport_line.h"
#include "comm/comportfunctions.h"

class ComLink {
 public:
  ComLink() = default;
  ~ComLink() { Close(); }
  ComLink(const ComLink&) = delete;
  ComLink& operator=(const ComLink&) = delete;

  // Maps COM<com> to `device` in a ports folder of its own, then opens it.
  bool MapAndOpen(int com, const std::string& device, int32_t rate, std::string& error) {
    char pattern[] = "/tmp/vorlix-integration-ports-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      error = "mkdtemp failed";
      return false;
    }
    own_folder_ = pattern;
    const std::string link = own_folder_ + "/COM" + std::to_string(com);
    if (symlink(device.c_str(), link.c_str()) != 0) {
      error = "symlink " + link + " failed";
      return false;
    }
    return OpenIn(own_folder_, com, rate, error);
  }

  // Opens COM<com> as mapped in an existing ports folder.
  bool OpenIn(const std::string& ports_folder, int com, int32_t rate, std::string& error) {
    SetComPortsFolder(ports_folder);
    // What the connection dialog does: 8 data bits, no parity, one stop bit, DTR on, RTS off,
    // then reads that return at once with whatever has arrived.
    handle_ = OpenComPort(com, rate, 8, 0, 0, 1000, 1000, true, false);
    if (handle_ == kNoComHandle) {
      error = LastComPortError();
      return false;
    }
    if (!SetComTimeouts(handle_, kComMaxDword, 0, 0)) {
      error = "SetComTimeouts failed";
      return false;
    }
    line_ = std::make_unique<ComPortLine>(handle_);
    return true;
  }

  void Close() {
    line_.reset();
    if (handle_ != kNoComHandle)
      CloseComPort(handle_);
    handle_ = kNoComHandle;
    SetComPortsFolder("");
    if (!own_folder_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(own_folder_, ignored);
      own_folder_.clear();
    }
  }

  SerialLine* line() { return line_.get(); }

 private:
  ComHandle handle_ = kNoComHandle;
  std::unique_ptr<ComPortLine> line_;
  std::string own_folder_;
};
