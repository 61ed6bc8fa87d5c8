// Replays fuzz inputs through a libFuzzer entry point without libFuzzer, so
// the ordinary native build (any compiler, sanitizers or not) runs every
// committed corpus file as a regression case.
//
//   replay FILE_OR_DIRECTORY...
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool Replay(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.string().c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    size_t replayed = 0;
    for (int k = 1; k < argc; ++k) {
        std::filesystem::path arg(argv[k]);
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else {
            files.push_back(arg);
        }
        for (const auto& file : files) {
            if (!Replay(file)) return 2;
            ++replayed;
        }
    }
    std::printf("replay: %zu input(s), no finding\n", replayed);
    // An empty corpus would prove nothing.
    return replayed > 0 ? 0 : 1;
}
