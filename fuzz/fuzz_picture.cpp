// The picture library's entry on any bytes, as LoadPicture calls it: written to a file, decoded
// for an image control of the picture window's size, through the same budget as in the game. A
// run-time error is a fine outcome; a crash, a leak, a hang or a memory blow-up is not.
#include "lang/RuntimeError.h"
#include "pictures/PictureFile.h"

#include <QImage>

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace {

// Image1 of the picture window at 96 dpi (4335 x 3855 twips).
constexpr int ShownWidth = 289;
constexpr int ShownHeight = 257;

std::string g_dir;
std::string g_path;

void removeDir() {
    ::unlink(g_path.c_str());
    ::rmdir(g_dir.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/kelvora-fuzz-picture-XXXXXX";
    if (!::mkdtemp(dir))
        std::abort();
    g_dir = dir;
    g_path = g_dir + "/picture";
    std::atexit(removeDir);

    // Qt's complaints (none are expected) would drown the fuzzer's own output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FILE* f = std::fopen(g_path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f))
        std::abort();
    try {
        const auto image = rt::pictures::decodeFile(g_path, QSize(ShownWidth, ShownHeight));
        // Never more pixels than shown: larger pictures are decoded at the shown size.
        if (!image || image->isNull() || image->width() > ShownWidth ||
            image->height() > ShownHeight)
            std::abort();
    } catch (const rt::RuntimeError&) {
    }
    return 0;
}
