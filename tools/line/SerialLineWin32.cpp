#include "SerialLine.h"

#include <windows.h>

#include "LineSettings.h"

namespace {

// Slack over the driver's own read time-out before a read is cancelled.
constexpr DWORD READ_WAIT_MARGIN_MS = 1000;
// What a cancelled operation may take to report its end.
constexpr DWORD CANCEL_WAIT_MS = 1000;
constexpr DWORD QUEUE_SIZE = 4096;

std::string SystemMessage(DWORD code)
{
    // In English, whatever the system's language: the message goes to a
    // console or a report in any code page, and ASCII reads the same in all.
    char text[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                             MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.'))
        text[--n] = '\0';
    std::string message = n > 0 ? std::string(text) : std::string("system error");
    return message + " (error " + std::to_string(code) + ")";
}

// The device-namespace form is the only one that reaches COM10 and above.
std::string DeviceForm(const std::string& path)
{
    return path.rfind("\\\\.\\", 0) == 0 ? path : "\\\\.\\" + path;
}

// Waits for an overlapped operation up to `boundMs`, then cancels it; gives
// the bytes it moved (also those moved before a cancel, so none is lost).
DWORD Finish(HANDLE port, OVERLAPPED& overlapped, DWORD boundMs, bool* failed)
{
    DWORD moved = 0;
    *failed = false;
    if (WaitForSingleObject(overlapped.hEvent, boundMs) == WAIT_OBJECT_0) {
        if (GetOverlappedResult(port, &overlapped, &moved, FALSE)) return moved;
        // Windows ends a read time-out with 0 bytes, Wine with ERROR_TIMEOUT,
        // which may still carry a byte read as the time ran out: keep it.
        *failed = GetLastError() != ERROR_TIMEOUT;
        return *failed ? 0 : moved;
    }
    CancelIoEx(port, &overlapped);
    if (WaitForSingleObject(overlapped.hEvent, CANCEL_WAIT_MS) != WAIT_OBJECT_0) {
        *failed = true;
        return 0;
    }
    if (!GetOverlappedResult(port, &overlapped, &moved, FALSE) && GetLastError() != ERROR_OPERATION_ABORTED) return 0;
    return moved;
}

}  // namespace

SerialLine::~SerialLine()
{
    if (handle_ != nullptr) {
        CancelIoEx(handle_, nullptr);
        CloseHandle(handle_);
    }
    if (readEvent_ != nullptr) CloseHandle(readEvent_);
    if (writeEvent_ != nullptr) CloseHandle(writeEvent_);
}

bool SerialLine::OpenDevice(const std::string& path, std::string& error)
{
    devicePath_ = path;
    // Share mode 0: Windows refuses every further open while we hold the port.
    HANDLE port = CreateFileA(DeviceForm(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        error = "cannot open " + path + ": " +
                (code == ERROR_ACCESS_DENIED ? "another program has it open (error 5)" : SystemMessage(code));
        return false;
    }
    handle_ = port;
    readEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    writeEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (readEvent_ == nullptr || writeEvent_ == nullptr) {
        error = "cannot wait on " + path + ": " + SystemMessage(GetLastError());
        return false;
    }
    SetupComm(port, QUEUE_SIZE, QUEUE_SIZE);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        error = path + " is not a serial line: " + SystemMessage(GetLastError());
        return false;
    }
    dcb.BaudRate = LINE_BAUD_RATE;
    dcb.ByteSize = LINE_DATA_BITS;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(port, &dcb)) {
        error = "cannot set " + path + " to 57600 8N1 raw: " + SystemMessage(GetLastError());
        return false;
    }
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    return true;
}

bool SerialLine::SetSoftwareFlowControl(std::string& error)
{
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle_, &dcb)) {
        error = "cannot read the settings of " + devicePath_ + ": " + SystemMessage(GetLastError());
        return false;
    }
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    if (!SetCommState(handle_, &dcb)) {
        error = "cannot turn on XON/XOFF on " + devicePath_ + ": " + SystemMessage(GetLastError());
        return false;
    }
    return true;
}

size_t SerialLine::Read(uint8_t* buffer, size_t capacity, int timeoutMs)
{
    if (handle_ == nullptr || capacity == 0) return 0;
    // MAXDWORD/0/constant: a one-byte read completes as soon as a byte is
    // there (Windows and Wine alike), or after the caller's bound. The
    // driver ends it: under Wine a read cancelled early can leave bytes
    // that arrive later unseen.
    const DWORD boundMs = static_cast<DWORD>(timeoutMs);
    if (boundMs != readTimeoutMs_) {
        COMMTIMEOUTS timeouts = {};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = boundMs;
        if (SetCommTimeouts(handle_, &timeouts)) readTimeoutMs_ = boundMs;
    }
    DWORD errors = 0;
    COMSTAT status = {};
    DWORD ask = 1;
    if (ClearCommError(handle_, &errors, &status) && status.cbInQue > 0)
        ask = status.cbInQue < capacity ? status.cbInQue : static_cast<DWORD>(capacity);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = readEvent_;
    ResetEvent(readEvent_);
    DWORD moved = 0;
    if (ReadFile(handle_, buffer, ask, &moved, &overlapped)) return moved;
    if (GetLastError() != ERROR_IO_PENDING) {
        // A line that fails now (a USB adapter pulled) must not spin the loop.
        Sleep(static_cast<DWORD>(timeoutMs));
        return 0;
    }
    bool failed = false;
    moved = Finish(handle_, overlapped, boundMs + READ_WAIT_MARGIN_MS, &failed);
    if (failed) Sleep(20);
    return moved;
}

bool SerialLine::Write(const uint8_t* data, size_t length, int stallMs)
{
    size_t done = 0;
    while (done < length) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = writeEvent_;
        ResetEvent(writeEvent_);
        DWORD moved = 0;
        const DWORD ask = static_cast<DWORD>(length - done);
        if (!WriteFile(handle_, data + done, ask, &moved, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) return false;
            bool failed = false;
            // The bytes' own time on the line comes on top of the stall allowed.
            const DWORD boundMs = static_cast<DWORD>(stallMs) + ask * 1000 / LINE_BYTES_PER_SECOND + 1;
            moved = Finish(handle_, overlapped, boundMs, &failed);
            if (failed) return false;
        }
        if (moved == 0) return false;
        done += moved;
    }
    return true;
}
