// FramedPort: one Win32 serial port in the line's settings (8N1) with overlapped I/O and
// bounded waits, plus the frame codec driven over it. SerialLink derives
// from it and runs the request exchange.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "FrameCodec.h"
#include "LineSettings.h"

constexpr DWORD PORT_QUEUE_SIZE = 10000;
constexpr DWORD PORT_PURGE_ALL = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr DWORD READ_TIMEOUT_MS = 1000;         // longest wait for the first byte of a read
constexpr DWORD WRITE_TIMEOUT_MS = 1000;        // constant part of the write time-out
constexpr DWORD WRITE_TIMEOUT_PER_BYTE_MS = 2;  // per-byte part of the write time-out
constexpr DWORD IO_WAIT_MARGIN_MS = 1000;       // slack over the port's own time-outs
constexpr DWORD CANCEL_WAIT_MS = 1000;          // wait for a cancelled operation to finish
constexpr DWORD READ_FAILURE_PAUSE_MS = 50;     // keeps a dead port from spinning a core
constexpr size_t PORT_READ_BUFFER_SIZE = 256;

class FramedPort {
public:
    FramedPort();
    virtual ~FramedPort();  // performs no port operation; the owner closes first

    FramedPort(const FramedPort&) = delete;
    FramedPort& operator=(const FramedPort&) = delete;

    // Opens "COMn" (any n) for exclusive overlapped use and configures it.
    bool Open(const char* portName);
    // Drops DTR, purges and releases the port; false when it was not open.
    bool Close();

    // True only when all `count` bytes were written within the write time-out.
    bool WriteBytes(const uint8_t* data, size_t count);
    // True only when a byte was read; false after about READ_TIMEOUT_MS without one.
    bool ReadByte(uint8_t* out);

    // Forgets every byte received so far, in the port's own buffer and in
    // the driver's input queue, so what arrives next came after this call.
    void DiscardInput();

    // Writes one whole frame in a single write; false when too long or not all written.
    bool SendFrame(const uint8_t* payload, size_t length);
    // Reads bytes until one frame has ended: true for a good frame, whose
    // payload is then in `buffer` and its length in `*inOutLength` (the
    // capacity on entry). Read time-outs are retried; only a signalled
    // cancel event ends the wait without a frame.
    bool ReceiveFrame(uint8_t* buffer, size_t* inOutLength);

    bool IsOpen() const { return isOpen; }
    const LinkStatistics& Statistics() const { return statistics; }

protected:
    bool CancelRequested() const;

    HANDLE port = INVALID_HANDLE_VALUE;
    // While set, every wait of the port I/O also watches this event and,
    // when it is signalled, cancels the operation and returns false. The
    // derived link creates and releases it.
    HANDLE cancelEvent = nullptr;

private:
    enum IoOutcome {
        IO_DONE,       // finished; `moved` holds the count
        IO_FAILED,     // finished with an error
        IO_ABANDONED,  // cancelled, or ran past its bound; it no longer runs unless stuck
    };
    IoOutcome FinishIo(OVERLAPPED& overlapped, DWORD boundMs, DWORD* moved);
    void PauseAfterFailure() const;

    OVERLAPPED readOverlapped = {};
    OVERLAPPED writeOverlapped = {};
    bool isOpen = false;
    LinkStatistics statistics;

    // Set when a cancelled operation did not finish in time: its completion
    // record may still be in use, so no further I/O is started, and Open
    // reuses the records only once that operation has finished.
    bool ioStuck = false;
    uint8_t readBuffer[PORT_READ_BUFFER_SIZE] = {};
    size_t readPosition = 0;
    size_t readCount = 0;
};
