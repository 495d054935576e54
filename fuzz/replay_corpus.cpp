// Feeds every file of a fuzz target's committed corpus to its entry point once,
// so the ordinary and the sanitizer builds run the same inputs as CTest tests.
// Usage: replay_<target> CORPUS_DIR. A broken property aborts (exit != 0).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int, char **argv)
{
    int inputs = 0;
    for (const auto &entry : std::filesystem::directory_iterator(argv[1])) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
        ++inputs;
    }
    std::printf("%d inputs replayed from %s\n", inputs, argv[1]);
    return inputs > 0 ? 0 : 1;
}
