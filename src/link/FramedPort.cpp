#include "FramedPort.h"

#include <string>

FramedPort::FramedPort() = default;

FramedPort::~FramedPort() = default;

bool FramedPort::Open(const char* portName)
{
    if (isOpen || portName == nullptr || portName[0] == '\0') return false;
    // An operation abandoned earlier may still own a completion record;
    // until it has finished, neither record may be reset for a new port.
    if (ioStuck) {
        if (!HasOverlappedIoCompleted(&readOverlapped) || !HasOverlappedIoCompleted(&writeOverlapped)) return false;
        ioStuck = false;
    }

    // The device-namespace form is the only one that reaches COM10 and above.
    const std::string devicePath = std::string("\\\\.\\") + portName;
    HANDLE handle = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    port = handle;

    // A port that refuses a setting stays open with what it accepted.
    SetupComm(port, PORT_QUEUE_SIZE, PORT_QUEUE_SIZE);
    PurgeComm(port, PORT_PURGE_ALL);

    // MAXDWORD/0/constant: a one-byte read completes as soon as a byte is
    // there, or fails after the constant. ReadByte asks for more than one
    // byte only when the driver already holds them.
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = READ_TIMEOUT_MS;
    timeouts.WriteTotalTimeoutMultiplier = WRITE_TIMEOUT_PER_BYTE_MS;
    timeouts.WriteTotalTimeoutConstant = WRITE_TIMEOUT_MS;
    SetCommTimeouts(port, &timeouts);

    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    GetCommState(port, &dcb);
    dcb.BaudRate = LINE_BAUD_RATE;
    dcb.ByteSize = LINE_DATA_BITS;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    // Frames carry 0x11 and 0x13 as data (stuffing touches only 0x7D and
    // 0x7E): XON/XOFF left on by the driver or an earlier program would
    // swallow them or stall the line. Every other flag stays as reported.
    dcb.fOutX = 0;
    dcb.fInX = 0;
    SetCommState(port, &dcb);

    statistics = LinkStatistics();
    readOverlapped = OVERLAPPED();
    writeOverlapped = OVERLAPPED();
    readPosition = 0;
    readCount = 0;

    readOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    writeOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (readOverlapped.hEvent == nullptr || writeOverlapped.hEvent == nullptr) {
        if (readOverlapped.hEvent != nullptr) CloseHandle(readOverlapped.hEvent);
        if (writeOverlapped.hEvent != nullptr) CloseHandle(writeOverlapped.hEvent);
        readOverlapped.hEvent = nullptr;
        writeOverlapped.hEvent = nullptr;
        CloseHandle(port);
        port = INVALID_HANDLE_VALUE;
        return false;
    }
    isOpen = true;
    return true;
}

bool FramedPort::Close()
{
    if (!isOpen) return false;

    EscapeCommFunction(port, CLRDTR);
    PurgeComm(port, PORT_PURGE_ALL);
    // Closing the port also ends an operation that a cancel could not; the
    // result reported is the port's own release.
    const BOOL released = CloseHandle(port);
    CloseHandle(readOverlapped.hEvent);
    CloseHandle(writeOverlapped.hEvent);
    port = INVALID_HANDLE_VALUE;
    readOverlapped.hEvent = nullptr;
    writeOverlapped.hEvent = nullptr;
    readPosition = 0;
    readCount = 0;
    isOpen = false;
    return released != FALSE;
}

bool FramedPort::CancelRequested() const
{
    return cancelEvent != nullptr && WaitForSingleObject(cancelEvent, 0) == WAIT_OBJECT_0;
}

void FramedPort::PauseAfterFailure() const
{
    // Cancellable: a Stop or time-out still ends the wait at once.
    if (cancelEvent != nullptr) {
        WaitForSingleObject(cancelEvent, READ_FAILURE_PAUSE_MS);
    } else {
        Sleep(READ_FAILURE_PAUSE_MS);
    }
}

FramedPort::IoOutcome FramedPort::FinishIo(OVERLAPPED& overlapped, DWORD boundMs, DWORD* moved)
{
    HANDLE waitOn[2] = {overlapped.hEvent, cancelEvent};
    const DWORD waitCount = cancelEvent != nullptr ? 2 : 1;
    const DWORD waited = WaitForMultipleObjects(waitCount, waitOn, FALSE, boundMs);
    if (waited == WAIT_OBJECT_0) {
        SetLastError(0);
        if (GetOverlappedResult(port, &overlapped, moved, FALSE)) return IO_DONE;
        // Wine ends a read time-out this way where Windows reports 0 bytes.
        if (GetLastError() == ERROR_TIMEOUT) {
            *moved = 0;
            return IO_DONE;
        }
        return IO_FAILED;
    }

    // Cancelled, past its bound, or the wait failed: the operation must not
    // outlive this call.
    CancelIoEx(port, &overlapped);
    if (WaitForSingleObject(overlapped.hEvent, CANCEL_WAIT_MS) == WAIT_OBJECT_0) {
        // Bytes that arrived before the cancel are kept, so none is lost.
        if (!GetOverlappedResult(port, &overlapped, moved, FALSE) && GetLastError() != ERROR_OPERATION_ABORTED) {
            *moved = 0;
        }
    } else {
        ioStuck = true;
        *moved = 0;
    }
    return IO_ABANDONED;
}

bool FramedPort::WriteBytes(const uint8_t* data, size_t count)
{
    if (!isOpen || ioStuck || (data == nullptr && count != 0) || count > MAXDWORD / 4) return false;

    ResetEvent(writeOverlapped.hEvent);
    writeOverlapped.Offset = 0;
    writeOverlapped.OffsetHigh = 0;
    const DWORD wanted = static_cast<DWORD>(count);
    DWORD written = 0;
    // With a completion record the count comes from GetOverlappedResult only.
    if (WriteFile(port, data, wanted, nullptr, &writeOverlapped)) {
        return GetOverlappedResult(port, &writeOverlapped, &written, FALSE) && written == wanted;
    }
    if (GetLastError() != ERROR_IO_PENDING) return false;

    const DWORD boundMs = WRITE_TIMEOUT_PER_BYTE_MS * wanted + WRITE_TIMEOUT_MS + IO_WAIT_MARGIN_MS;
    // A write that cannot drain ends at the port's time-out with a short
    // count reported as success, so the count decides.
    if (FinishIo(writeOverlapped, boundMs, &written) != IO_DONE) return false;
    return written == wanted;
}

bool FramedPort::ReadByte(uint8_t* out)
{
    if (out == nullptr) return false;
    if (readPosition < readCount) {
        *out = readBuffer[readPosition++];
        return true;
    }
    if (!isOpen || CancelRequested()) return false;
    if (ioStuck) {
        PauseAfterFailure();
        return false;
    }

    readPosition = 0;
    readCount = 0;
    // What the driver already holds comes in one read; otherwise one byte
    // is awaited. A longer read would wait out the whole time-out on some
    // drivers (Wine's among them) even with bytes there, and one-byte reads
    // alone fall behind the line. ClearCommError also clears a line error
    // (overrun, framing): where the driver aborts on errors, every read
    // would fail until then, so one damaged frame costs one frame only.
    DWORD wanted = 1;
    DWORD lineErrors = 0;
    COMSTAT status = {};
    if (ClearCommError(port, &lineErrors, &status) && status.cbInQue > 0) {
        wanted = status.cbInQue < sizeof(readBuffer) ? status.cbInQue : static_cast<DWORD>(sizeof(readBuffer));
    }

    ResetEvent(readOverlapped.hEvent);
    readOverlapped.Offset = 0;
    readOverlapped.OffsetHigh = 0;
    DWORD got = 0;
    if (ReadFile(port, readBuffer, wanted, nullptr, &readOverlapped)) {
        if (!GetOverlappedResult(port, &readOverlapped, &got, FALSE)) got = 0;
    } else {
        const DWORD error = GetLastError();
        if (error == ERROR_TIMEOUT) {
            got = 0;  // Wine's way of saying "no byte"
        } else if (error != ERROR_IO_PENDING) {
            PauseAfterFailure();
            return false;
        } else if (FinishIo(readOverlapped, READ_TIMEOUT_MS + IO_WAIT_MARGIN_MS, &got) == IO_FAILED) {
            PauseAfterFailure();
            return false;
        }
    }
    readCount = got < wanted ? got : wanted;
    if (readCount == 0) return false;
    *out = readBuffer[readPosition++];
    return true;
}

void FramedPort::DiscardInput()
{
    readPosition = 0;
    readCount = 0;
    if (isOpen) PurgeComm(port, PURGE_RXCLEAR);
}

bool FramedPort::SendFrame(const uint8_t* payload, size_t length)
{
    uint8_t frame[STUFFED_FRAME_SIZE];
    const size_t frameLength = BuildFrame(payload, length, frame);
    if (frameLength == 0) return false;
    if (!WriteBytes(frame, frameLength)) return false;
    CountSentFrame(statistics, length);
    return true;
}

bool FramedPort::ReceiveFrame(uint8_t* buffer, size_t* inOutLength)
{
    if (buffer == nullptr || inOutLength == nullptr) return false;

    FrameReceiver receiver(statistics);
    for (;;) {
        uint8_t byte = 0;
        if (!ReadByte(&byte)) {
            // No byte within the read time-out: keep hunting unless told to stop.
            if (CancelRequested() || !isOpen) return false;
            continue;
        }
        switch (receiver.Feed(byte, buffer, inOutLength)) {
        case FrameReceiver::MORE: break;
        case FrameReceiver::GOOD: return true;
        case FrameReceiver::BAD: return false;
        }
    }
}
