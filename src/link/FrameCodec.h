// Frame codec: HDLC-like framing with 0x7E flags, 0x7D stuffing and the
// FCS-16 of PPP (CRC-16/X.25). It does no I/O: frames are assembled into a
// caller's work area for one write, and received frames are rebuilt one
// byte at a time, so the same code serves the port, the simulator, tests
// and fuzzers. Nothing here touches the heap.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t FRAME_FLAG = 0x7E;
constexpr uint8_t FRAME_ESCAPE = 0x7D;
constexpr uint8_t ESCAPE_OFFSET = 0x20;

constexpr size_t MAX_FRAME_PAYLOAD = 4090;  // largest payload a frame carries
constexpr size_t FCS_SIZE = 2;
constexpr size_t FRAME_BUFFER_SIZE = MAX_FRAME_PAYLOAD + FCS_SIZE;
// Most bytes the library stores for one received frame: one short of a whole
// buffer, so the longest message it takes is 4089 bytes.
constexpr size_t FRAME_RECEIVE_LIMIT = FRAME_BUFFER_SIZE - 1;
// A device must take every frame the library may send: the largest payload
// with its FCS, which is what a frame buffer holds.
constexpr size_t DEVICE_RECEIVE_LIMIT = FRAME_BUFFER_SIZE;
// Work area for a whole stuffed frame with its flags.
constexpr size_t STUFFED_FRAME_SIZE = 8188;
static_assert(STUFFED_FRAME_SIZE >= 2 * FRAME_BUFFER_SIZE + 2, "every payload and FCS byte stuffed, and two flags");

constexpr uint16_t FCS_PRESET = 0xFFFF;
constexpr uint16_t FCS_GOOD = 0xF0B8;

// Runs the table-driven FCS register over `length` bytes.
uint16_t Fcs16(uint16_t fcs, const uint8_t* data, size_t length);
// The FCS to transmit for `data`: the complement of the register run from the preset.
uint16_t MakeFcs(const uint8_t* data, size_t length);
// True when `data` (payload followed by its two FCS bytes) ends the register at FCS_GOOD.
bool CheckFcs(const uint8_t* data, size_t length);
// Stuffs `length` bytes into `out` (room for 2 * length); returns the bytes written.
size_t EscapeBytes(const uint8_t* in, uint8_t* out, size_t length);

// Assembles the whole frame (flag, stuffed payload and FCS, flag) for one
// write. Returns its length, or 0 when `length` exceeds MAX_FRAME_PAYLOAD
// (nothing is written to `frame` then).
size_t BuildFrame(const uint8_t* payload, size_t length, uint8_t (&frame)[STUFFED_FRAME_SIZE]);

// Link statistics, in the order the port keeps them.
struct LinkStatistics {
    uint32_t bytesSent = 0;
    uint32_t bytesReceived = 0;
    uint32_t framesSent = 0;
    uint32_t goodFramesReceived = 0;
    uint32_t badFramesReceived = 0;
};

// Counts one completely written frame of `payloadLength` bytes.
void CountSentFrame(LinkStatistics& stats, size_t payloadLength);

// Receive state machine, fed one byte at a time. After a closing flag it is
// back in HUNT, so every frame needs an opening flag of its own.
class FrameReceiver {
public:
    enum State {
        HUNT,     // waiting for an opening flag; everything else is discarded
        START,    // after the opening flag; further flags are skipped
        DATA,     // storing frame bytes until the closing flag
        ESCAPED,  // after 0x7D: the next byte is stored plus 0x20
    };
    enum Result {
        MORE,  // the frame is not complete yet
        GOOD,  // a good frame was copied to the caller's buffer
        BAD,   // a frame was rejected (too long for the caller, or bad FCS)
    };

    // Stores at most `receiveLimit` bytes (payload and FCS) of one frame;
    // at most FRAME_BUFFER_SIZE.
    explicit FrameReceiver(LinkStatistics& stats, size_t receiveLimit = FRAME_RECEIVE_LIMIT);

    // Back to HUNT with nothing stored.
    void Reset();

    // Feeds one byte. On the closing flag the frame is decided: GOOD copies
    // its payload (without FCS) into `buffer` and sets `*inOutLength` (the
    // capacity on entry) to its length; BAD leaves both untouched.
    Result Feed(uint8_t byte, uint8_t* buffer, size_t* inOutLength);

    State state() const { return state_; }
    size_t storedBytes() const { return stored_; }

private:
    void Store(uint8_t byte);
    Result EndFrame(uint8_t* buffer, size_t* inOutLength);

    LinkStatistics& stats_;
    const size_t receiveLimit_;
    State state_ = HUNT;
    size_t stored_ = 0;
    uint8_t frame_[FRAME_BUFFER_SIZE];
};
