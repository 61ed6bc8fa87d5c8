#include "RecordFileWriter.h"

namespace {

const char START_MARK[] = "\xAA\xBB\x55\x44";
const char END_MARK[] = "\x44\x55\xBB\xAA";
const char TRAILER_MARK[] = "\xFF\xAA\xFF\xBB";
constexpr char STRING_END = '\xFF';
// The five spare bytes of the header and the entry count are part of it.
constexpr int32_t BODY_HEADER_BYTES = 5;

std::string LittleEndian32(int32_t value)
{
    const uint32_t bits = static_cast<uint32_t>(value);
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((bits >> (8 * i)) & 0xFF);
    return out;
}

}  // namespace

void RecordFileWriter::AddEntry(const std::string& code, const std::string& label, const std::string& value)
{
    body += code + STRING_END + label + STRING_END + value + STRING_END;
    ++entries;
    inBlock = true;
}

void RecordFileWriter::EndBlock()
{
    if (!inBlock) return;
    file += pendingJunk;
    pendingJunk.clear();
    file += std::string(START_MARK, 4) + LittleEndian32(static_cast<int32_t>(body.size()) + BODY_HEADER_BYTES) +
            std::string(5, '\0') + LittleEndian32(entries) + std::string(1, '\0') + body + std::string(END_MARK, 4);
    body.clear();
    entries = 0;
    inBlock = false;
    ++blocks;
}

void RecordFileWriter::AddEmptyBlock()
{
    EndBlock();
    inBlock = true;
    EndBlock();
}

void RecordFileWriter::AddJunk(const std::string& bytes)
{
    EndBlock();
    pendingJunk += bytes;
}

std::string RecordFileWriter::Finish(const int32_t* count)
{
    EndBlock();
    std::string out =
        file + pendingJunk + LittleEndian32(count != nullptr ? *count : blocks) + std::string(TRAILER_MARK, 4);
    file.clear();
    pendingJunk.clear();
    return out;
}
