// JPEG XL pictures through libjxl 0.7, fed from the stream as it comes and decoded with a thread
// a core, as djxl does. libjxl 0.7 renders only at the picture's own size (its progressive flush
// too), so the picture is decoded whole into 8-bit samples and shrunk from there by the area
// scaler, which also turns it as its orientation says. The decoder gets a memory manager that
// charges the budget, but 0.7 passes only its own object through it: what else it holds is
// charged from the picture's size before any pixel is decoded, so a picture too large for the
// budget is refused at its header.
#include "AreaScaler.h"
#include "Codecs.h"
#include "Formats.h"
#include "Limits.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace rt::pictures {
namespace {

const char* const Name = "JPEG XL";

// What libjxl 0.7 holds beside its output, measured on Debian's build with two threads: about
// three bytes a pixel for a lossy or lossless picture, and its tables.
constexpr std::size_t JxlBytesPerPixel = 3;
constexpr std::size_t JxlFixed = std::size_t(8) << 20;

// The memory manager: blocks headed by their size, charged to the budget.
struct Memory {
    Budget& budget;
    std::atomic<bool> overBudget = false;
    static constexpr std::size_t Head = 16;

    static void* allocate(void* opaque, std::size_t size) {
        auto* m = static_cast<Memory*>(opaque);
        if (size > m->budget.left() || !m->budget.tryTake(size + Head)) {
            m->overBudget = true;
            return nullptr;
        }
        auto* block = static_cast<unsigned char*>(std::malloc(size + Head));
        if (!block) {
            m->budget.give(size + Head);
            return nullptr;
        }
        std::memcpy(block, &size, sizeof size);
        return block + Head;
    }
    static void release(void* opaque, void* address) {
        if (!address)
            return;
        auto* m = static_cast<Memory*>(opaque);
        unsigned char* block = static_cast<unsigned char*>(address) - Head;
        std::size_t size = 0;
        std::memcpy(&size, block, sizeof size);
        std::free(block);
        m->budget.give(size + Head);
    }
};

} // namespace

QImage readJxl(Load& load) {
    const JxlLibrary* jxl = jxlLibrary();
    if (!jxl)
        codecMissing(Name, "libjxl.so.0.7", "libjxl0.7");
    const JxlThreadsLibrary* threads = jxlThreadsLibrary();
    Memory memory{load.budget};
    const JxlMemoryManager manager{&memory, Memory::allocate, Memory::release};
    struct Owned {
        const JxlLibrary& jxl;
        const JxlThreadsLibrary* threads;
        JxlDecoder* decoder = nullptr;
        void* runner = nullptr;
        ~Owned() {
            if (decoder)
                jxl.JxlDecoderDestroy(decoder);
            if (runner)
                threads->JxlThreadParallelRunnerDestroy(runner);
        }
    } owned{*jxl, threads};
    owned.decoder = jxl->JxlDecoderCreate(&manager);
    if (!owned.decoder)
        throw OverBudget();
    JxlDecoder* const d = owned.decoder;
    if (threads) {
        owned.runner = threads->JxlThreadParallelRunnerCreate(
            nullptr, threads->JxlThreadParallelRunnerDefaultNumWorkerThreads());
        if (owned.runner)
            jxl->JxlDecoderSetParallelRunner(d, threads->JxlThreadParallelRunner, owned.runner);
    }
    if (jxl->JxlDecoderSubscribeEvents(d, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) !=
            JXL_DEC_SUCCESS ||
        jxl->JxlDecoderSetKeepOrientation(d, JXL_TRUE) != JXL_DEC_SUCCESS ||
        jxl->JxlDecoderSetUnpremultiplyAlpha(d, JXL_TRUE) != JXL_DEC_SUCCESS)
        fail(damaged(Name));

    // The input: what libjxl has not used yet, then the next chunk of the stream.
    Buffer<unsigned char> input{BudgetAllocator<unsigned char>(load.budget)};
    Buffer<unsigned char> pixels{BudgetAllocator<unsigned char>(load.budget)};
    JxlBasicInfo info{};
    JxlPixelFormat format{};
    for (;;) {
        const JxlDecoderStatus status = jxl->JxlDecoderProcessInput(d);
        if (status == JXL_DEC_NEED_MORE_INPUT) {
            // What a section needs is told by the codestream's table: the file's end, when it
            // comes first, is a cut.
            const std::size_t unused = jxl->JxlDecoderReleaseInput(d);
            if (unused > input.size())
                fail(damaged(Name));
            input.erase(input.begin(), input.end() - std::ptrdiff_t(unused));
            const std::span<const unsigned char> bytes = load.in.chunk();
            if (bytes.empty())
                fail(cutShort(Name));
            input.insert(input.end(), bytes.begin(), bytes.end());
            if (jxl->JxlDecoderSetInput(d, input.data(), input.size()) != JXL_DEC_SUCCESS)
                fail(damaged(Name));
        } else if (status == JXL_DEC_BASIC_INFO) {
            if (jxl->JxlDecoderGetBasicInfo(d, &info) != JXL_DEC_SUCCESS)
                fail(damaged(Name));
            checkSize(info.xsize, info.ysize);
            const int orientation =
                info.orientation >= 1 && info.orientation <= 8 ? int(info.orientation) : 1;
            load.size = orientedSize(QSize(int(info.xsize), int(info.ysize)), orientation);
            const std::size_t count = std::size_t(info.xsize) * std::size_t(info.ysize);
            load.budget.take(count * JxlBytesPerPixel + JxlFixed);
            format = {std::uint32_t(info.num_color_channels == 1 ? 1 : 3) +
                          (info.alpha_bits > 0 ? 1 : 0),
                      JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            std::size_t size = 0;
            if (jxl->JxlDecoderImageOutBufferSize(d, &format, &size) != JXL_DEC_SUCCESS ||
                size != std::size_t(info.xsize) * info.ysize * format.num_channels)
                fail(damaged(Name));
            pixels.resize(size);
            if (jxl->JxlDecoderSetImageOutBuffer(d, &format, pixels.data(), size) !=
                JXL_DEC_SUCCESS)
                fail(damaged(Name));
        } else if (status == JXL_DEC_FULL_IMAGE) {
            break; // the first frame: of an animation, as of an animated GIF
        } else {
            if (memory.overBudget)
                throw OverBudget();
            fail(damaged(Name));
        }
    }

    const int orientation =
        info.orientation >= 1 && info.orientation <= 8 ? int(info.orientation) : 1;
    const QSize stored(int(info.xsize), int(info.ysize));
    AreaScaler into(load.budget, stored, targetFor(orientedSize(stored, orientation), load.shown),
                    orientation);
    Buffer<QRgb> row(stored.width(), 0, BudgetAllocator<QRgb>(load.budget));
    const std::size_t channels = format.num_channels;
    const bool grey = channels <= 2, alpha = channels == 2 || channels == 4;
    for (int y = 0; y < stored.height(); ++y) {
        const unsigned char* p = pixels.data() + std::size_t(y) * stored.width() * channels;
        for (int x = 0; x < stored.width(); ++x, p += channels)
            row[std::size_t(x)] = grey ? qRgba(p[0], p[0], p[0], alpha ? p[1] : 255)
                                       : qRgba(p[0], p[1], p[2], alpha ? p[3] : 255);
        if (!into.addRow(y, row.data(), stored.width()))
            fail(damaged(Name));
    }
    return into.take();
}

const PictureFormat JxlFormat{
    "JPEG XL",
    [](auto head) {
        return startsWith(head, "\xFF\x0A") ||
               startsWith(head, std::string_view("\0\0\0\x0CJXL \r\n\x87\n", 12));
    },
    readJxl};

} // namespace rt::pictures
