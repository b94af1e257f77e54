// The picture library's entry on any bytes, decoded for an image control of the picture window's
// size through the same budget as in the game. A fault is a fine outcome; a crash, a leak, a hang
// or a memory blow-up is not.
#include "pictures/PictureFile.h"

#include <QImage>

#include <cstdint>
#include <cstdlib>

namespace {

// Image1 of the picture window at 96 dpi (4335 x 3855 twips).
constexpr int ShownWidth = 289;
constexpr int ShownHeight = 257;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Qt's complaints (none are expected) would drown the fuzzer's own output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto decoded = rt::pictures::decodeBytes({data, size}, QSize(ShownWidth, ShownHeight));
    if (!decoded.picture) {
        // Every fault is told by its kind and worded for the report.
        if (decoded.fault.kind == rt::pictures::FaultKind::None || decoded.fault.cause.empty())
            std::abort();
        return 0;
    }
    // Never more pixels than shown: larger pictures are decoded at the shown size.
    const QImage& image = *decoded.picture;
    if (image.isNull() || image.width() > ShownWidth || image.height() > ShownHeight)
        std::abort();
    return 0;
}
