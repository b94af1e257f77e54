// The list-file reader on any bytes: Open, three Line Inputs and Close as at start-up, checked
// against a plain splitting of the same bytes. Only a missing line may end in a run-time
// error; a crash, a leak or a line that differs may not.
#include "lang/Open.h"
#include "lang/RuntimeError.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string g_dir;
std::string g_path;

void removeDir() {
    ::unlink(g_path.c_str());
    ::rmdir(g_dir.c_str());
}

// The lines the reader should return: a leading UTF-8 byte-order mark dropped, then split at
// CR LF, LF or a lone CR; the last line may end with the data.
std::vector<std::string> expectedLines(const std::string& data) {
    std::vector<std::string> lines;
    std::size_t i = data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (i < data.size()) {
        const std::size_t end = data.find_first_of("\r\n", i);
        if (end == std::string::npos) {
            lines.push_back(data.substr(i));
            break;
        }
        lines.push_back(data.substr(i, end - i));
        i = end + (data.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/kelvora-fuzz-list-XXXXXX";
    if (!::mkdtemp(dir))
        std::abort();
    g_dir = dir;
    g_path = g_dir + "/qorfile.txt";
    std::atexit(removeDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    FILE* f = std::fopen(g_path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f))
        std::abort();

    const std::vector<std::string> expected = expectedLines(bytes);
    std::size_t read = 0;
    try {
        rt::Open(g_path);
        for (; read < 3; ++read) {
            // A line beyond the limit comes back cut one byte past it.
            const std::string line = rt::LineInput();
            if (read >= expected.size() || line != expected[read].substr(0, rt::MaxLineBytes + 1))
                std::abort();
        }
    } catch (const rt::RuntimeError& error) {
        // Only a missing line may stop the reading.
        if (error.kind() != rt::ErrorKind::InputPastEndOfFile || read != expected.size())
            std::abort();
    }
    rt::Close();
    return 0;
}
