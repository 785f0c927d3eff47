#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Two pseudo-terminals joined back to back, for two programs that each want a serial port of
// their own: one opens port_path(), the other peer_path(), and what either writes the other
// reads. A pseudo-terminal has a single slave, so one terminal cannot serve two programs that
// both open a device by path; two are needed, and something must copy between their masters.
//
// The copying is done by a thread here rather than by an external relay program so that every
// byte passed on is kept, per direction, for the tests to compare with the frames they expect,
// and nothing beyond the kernel's terminals is needed. Bytes are passed on as soon as they are
// read, unpaced: the peers on the far side take whole frames as they come.
//
// The bridge keeps both slaves open in raw mode itself, so neither terminal hangs up or echoes
// when a program opens or closes its end.
class PtyBridge {
 public:
  PtyBridge() = default;
  ~PtyBridge();
  PtyBridge(const PtyBridge&) = delete;
  PtyBridge& operator=(const PtyBridge&) = delete;

  bool Start(std::string& error);
  void Stop();

  const std::string& port_path() const { return port_.path; }
  const std::string& peer_path() const { return peer_.path; }

  // What our side sent to the peer, and the peer to us, since the last call.
  std::vector<uint8_t> TakeToPeer();
  std::vector<uint8_t> TakeFromPeer();

 private:
  struct End {
    int master = -1;
    int slave = -1;
    std::string path;
  };

  static bool OpenEnd(End& end, std::string& error);
  void Run();
  void CloseAll();

  End port_;
  End peer_;
  int wake_read_ = -1;
  int wake_write_ = -1;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<uint8_t> to_peer_;
  std::vector<uint8_t> from_peer_;
};
