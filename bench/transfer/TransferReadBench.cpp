// Reads and assembles a record file of 100,000 blocks of 10 entries and
// compares the buffered reader with the byte-wise walk (one read call per
// window position and per string byte), both timed in this run.
//
//   transfer_read_bench [BLOCKS [buffered-only]]
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <string>
#include <vector>

#include "ByteWiseReader.h"
#include "RecordFile.h"
#include "RecordFileBuilder.h"
#include "RecordSource.h"
#include "RecordTable.h"

namespace {

constexpr int32_t DEFAULT_BLOCKS = 100000;
constexpr int ENTRIES_PER_BLOCK = 10;

std::string MakeFile(int32_t blocks)
{
    // Realistic contact entries: CP936 labels, phone numbers, names.
    const std::vector<TestEntry> entries = {
        {"00", "\xD0\xD5\xC3\xFB", "\xD5\xC5\xCE\xB0"},
        {"01", "\xB3\xC6\xCE\xBD", "\xBE\xAD\xC0\xED"},
        {"10", "\xCA\xD6\xBB\xFA", "13812345678"},
        {"11", "\xD7\xA1\xD5\xAC", "010-62345678"},
        {"12", "\xB0\xEC\xB9\xAB", "010-87654321"},
        {"13", "\xB4\xAB\xD5\xE6", "010-11112222"},
        {"15", "\xB9\xAB\xCB\xBE", "\xB1\xB1\xBE\xA9\xBB\xAA\xD0\xC5\xBF\xC6\xBC\xBC"},
        {"61", "E-mail", "zhang.wei@example.com.cn"},
        {"60", "\xB5\xD8\xD6\xB7", "\xB1\xB1\xBE\xA9\xCA\xD0\xBA\xA3\xB5\xED\xC7\xF8"},
        {"80", "\xB1\xB8\xD7\xA2", "\xC3\xBF\xD6\xDC\xC8\xFD"},
    };
    RecordFileBuilder builder;
    for (int32_t b = 0; b < blocks; ++b)
        builder.Block(entries);
    return builder.Finish();
}

// Processor time of this process (user and system), so that other work on
// a shared machine does not count against either reader.
double ProcessSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// The three passes of a transfer, through the transfer's own record source,
// with the assembly of every record. Gives the slots filled, or -1.
int32_t ReadBuffered(const char* path, int32_t blocks, RecordTable& table)
{
    static RecordFile file;
    RecordSource source(file, table);
    if (source.Load(path) != 0 || source.BlockCount() != blocks) return -1;
    source.StartRecords();
    static RecordView record;
    int64_t payloadBytes = 0;
    while (source.NextRecord(record))
        payloadBytes += record.payloadLength;
    if (source.Result() != 0) return -1;
    file.Close();
    return payloadBytes > 0 ? table.fillCursor : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    const int32_t blocks = argc > 1 ? std::atoi(argv[1]) : DEFAULT_BLOCKS;
    const std::string bytes = MakeFile(blocks);
    TempFile file(bytes);
    const double megabytes = static_cast<double>(bytes.size()) / 1e6;
    std::printf("times are processor time of this process\n");
    std::printf("file: %d blocks of %d entries, %.1f MB\n", blocks, ENTRIES_PER_BLOCK, megabytes);

    // Best of three for the buffered reader; the byte-wise walk runs once.
    double buffered = 1e30;
    for (int round = 0; round < 3; ++round) {
        RecordTable table;
        const double start = ProcessSeconds();
        const int32_t filled = ReadBuffered(file.Path(), blocks, table);
        const double elapsed = ProcessSeconds() - start;
        if (filled != blocks * ENTRIES_PER_BLOCK) {
            std::fprintf(stderr, "buffered reader filled %d slots\n", filled);
            return 1;
        }
        if (elapsed < buffered) buffered = elapsed;
    }
    std::printf("buffered: three passes with assembly: %.3f s, %.1f MB/s\n", buffered, megabytes / buffered);

    // The table has 768 bytes per entry; most of the time above is the
    // first touch of its fresh pages. Shown so the reader's own share is clear.
    {
        RecordTable table;
        const double start = ProcessSeconds();
        const int32_t slots = blocks * ENTRIES_PER_BLOCK;
        if (!table.Allocate(slots)) return 1;
        for (int32_t i = 0; i < slots; ++i) {
            RecordSlot& slot = table.Slots()[i];
            slot.fieldCode[0] = slot.label[0] = slot.value[0] = '\0';
        }
        std::printf("of which touching a fresh table of %d slots (%.0f MB): %.3f s\n", slots,
                    static_cast<double>(slots) * sizeof(RecordSlot) / 1e6, ProcessSeconds() - start);
    }

    if (argc > 2) return 0;
    const double start = ProcessSeconds();
    const ByteWiseResult reference = ReadByteWise(file.Path(), blocks);
    const double byteWise = ProcessSeconds() - start;
    if (!reference.complete || reference.slots.size() != static_cast<size_t>(blocks) * ENTRIES_PER_BLOCK) {
        std::fprintf(stderr, "byte-wise walk failed\n");
        return 1;
    }
    std::printf("byte-wise: counting and filling passes only: %.3f s, %.2f MB/s\n", byteWise, megabytes / byteWise);
    std::printf("ratio: buffered is %.0f times faster (while doing a third pass and the assembly)\n",
                byteWise / buffered);
    return 0;
}
