// Feeds a fuzz target the kept inputs without libFuzzer, so that the ordinary
// builds replay every corpus file and every past finding as a test.
//   <target>_replay PATH...   (each PATH a file or a directory of files)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

bool RunFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    size_t runs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path path(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            std::vector<std::filesystem::path> files;
            for (const auto &entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const auto &file : files) {
                ok = RunFile(file) && ok;
                ++runs;
            }
        } else {
            ok = RunFile(path) && ok;
            ++runs;
        }
    }
    std::printf("replayed %zu inputs\n", runs);
    return ok && runs > 0 ? 0 : 1;
}
