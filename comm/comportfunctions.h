#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "comm/serial_line.h"

// The serial port as plain functions over the platform's native handle. Nothing here keeps
// state of its own except the ports folder and the text of the last failed open, and nothing
// shows a message: failures come back as false or kNoComHandle.

#ifdef _WIN32
using ComHandle = void*;  // HANDLE
// INVALID_HANDLE_VALUE, what CreateFileA returns on failure.
inline const ComHandle kNoComHandle = reinterpret_cast<ComHandle>(static_cast<intptr_t>(-1));
#else
using ComHandle = int;  // file descriptor of the tty
inline constexpr ComHandle kNoComHandle = -1;
#endif

// The Win32 MAXDWORD, for SetComTimeouts(handle, kComMaxDword, 0, 0): reads return at once.
inline constexpr uint32_t kComMaxDword = 0xFFFFFFFFu;

// True when port n is there, free or held by another program. Never leaves it open.
bool ComPortExists(int n);

// Opens port `port` and sets it up: rate limited to 110..256000 bit/s, data bits to 4..8,
// parity code 1 even, 2 odd, any other none; stop code 0 one, 1 one and a half, 2 two, any
// other one; DTR and RTS on or off as flagged. kNoComHandle on any failure, with nothing left
// open; LastComPortError() then says why. On POSIX a setting the port cannot carry exactly
// (a rate that is no standard termios speed, 4 data bits, one and a half stop bits with more
// than 5 data bits, or anything the driver silently changes) fails the open rather than fall
// back to something else; the queue sizes have no meaning there.
ComHandle OpenComPort(int port, int32_t rate, int data_bits, int parity_code, int stop_code,
                      uint32_t in_queue, uint32_t out_queue, bool dtr, bool rts);

// Read time-outs in milliseconds. (kComMaxDword, 0, 0) makes a read return at once with the
// bytes already received, possibly none; the exchanges rely on that and do their own waiting.
// On POSIX reads always return at once and only that combination is accepted: any other
// would ask for a blocking read, which this layer never does, so it returns false.
bool SetComTimeouts(ComHandle handle, uint32_t interval, uint32_t multiplier, uint32_t constant);

// Clears the port's error state after a failed read or write. A POSIX tty latches no errors;
// there it only tells whether the port still answers.
bool ClearComErrors(ComHandle handle);

// Ticks per second of the counter all exchange timing is measured in; the same value as
// SystemClock::Instance().Frequency().
uint64_t GetTickFrequency();

void CloseComPort(ComHandle handle);

// Raises or drops DTR. False where the port has no modem lines (a pseudo-terminal).
bool SetComDtr(ComHandle handle, bool on);

// The device port n opens: "\\.\COMn" on Windows; on POSIX the target of the entry "COMn" in
// the ports folder when there is one, else COM1-32 = /dev/ttyS0-31, COM33-64 =
// /dev/ttyUSB0-31, COM65-96 = /dev/ttyACM0-31. Empty when the number maps to no device.
std::string ComPortDevicePath(int n);

// The folder of user mappings (symbolic links named COMn to any device). Empty: default
// table only. Not used on Windows.
void SetComPortsFolder(const std::string& folder);

// Short text of why the last OpenComPort failed (device and system error, with a hint where
// one helps); empty after a successful open.
std::string LastComPortError();

// Line operations behind ComPortLine.
bool PurgeComPort(ComHandle handle);
bool SetComRts(ComHandle handle, bool on);
bool WriteComPort(ComHandle handle, const uint8_t* data, size_t size);
SerialLine::ReadResult ReadComByte(ComHandle handle, uint8_t& byte);
// Reads whatever has arrived, up to `capacity` bytes, without waiting; kByte with `got` above 0
// when something was read. A port that has gone away reports kFailed, as ReadComByte does.
SerialLine::ReadResult ReadComBytes(ComHandle handle, uint8_t* buffer, size_t capacity,
                                    size_t& got);
// Waits at most `limit` for input. Returns early once a byte has come. On Windows the wait is a
// blocking read, so what came is taken into `buffer` (up to `capacity` bytes) and its count
// returned; on POSIX it only waits and returns 0, the bytes staying in the port.
size_t WaitComInput(ComHandle handle, std::chrono::microseconds limit, uint8_t* buffer,
                    size_t capacity);
// How long a reply loop waits on a port at a time. Waking from the blocking read costs more on
// Windows than waking from poll on Linux (under wine a round trip through its server, about
// 0.1 ms of processor time), so the slices are longer there: 40 ms, still a stop within 50 ms.
int32_t ComIdleWaitMs();
// True when the open port has gone away for good: hung up or failing with the errors of a
// device that is no longer there.
bool ComPortGone(ComHandle handle);
// True when the device of port n is there to be opened again, without opening it (opening a
// real adapter would toggle its modem lines).
bool ComPortPresent(int n);
// The adapter's name as the system knows it: the entry of `by_id_folder` (/dev/serial/by-id by
// default) that leads to the same device as port n. Empty when none does, and always on
// Windows.
std::string ComPortAdapterName(int n, const std::string& by_id_folder = "/dev/serial/by-id");
