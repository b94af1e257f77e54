// libjpeg's source manager over the stream, its memory methods charging the budget, the scan
// count it may not pass, and the marker processor that keeps the EXIF data.
#include "JpegClient.h"

#include "ByteOrder.h"
#include "Limits.h"

#include <jerror.h>

#include <cstring>

namespace rt::pictures {
namespace {

JpegClient& clientOf(j_common_ptr cinfo) {
    return *static_cast<JpegClient*>(cinfo->client_data);
}

[[noreturn]] void stopWith(j_common_ptr cinfo, JpegClient::Stop why) {
    JpegClient& client = clientOf(cinfo);
    client.stop = why;
    std::longjmp(client.jump, 1);
}

[[noreturn]] void errorExit(j_common_ptr cinfo) {
    const int code = cinfo->err->msg_code;
    stopWith(cinfo, code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE
                        ? JpegClient::Stop::OverBudget
                        : JpegClient::Stop::Fault);
}

// Warnings about damaged data are passed over, as viewers do, but for the end of the data.
void emitMessage(j_common_ptr cinfo, int level) {
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        stopWith(cinfo, JpegClient::Stop::CutShort);
}

// Every scan makes libjpeg walk the whole picture's blocks again.
void watchScans(j_common_ptr cinfo) {
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > MaxJpegScans)
        stopWith(cinfo, JpegClient::Stop::TooManyScans);
}

// The source: the stream's chunks as they come.
void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr cinfo) {
    static const JOCTET end[] = {0xFF, JPEG_EOI};
    JpegClient& client = clientOf(reinterpret_cast<j_common_ptr>(cinfo));
    const std::span<const unsigned char> chunk = client.in.chunk();
    if (chunk.empty()) {
        WARNMS(cinfo, JWRN_JPEG_EOF); // stops the decode
        client.source.next_input_byte = end;
        client.source.bytes_in_buffer = sizeof end;
        return TRUE;
    }
    client.source.next_input_byte = chunk.data();
    client.source.bytes_in_buffer = chunk.size();
    return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count) {
    if (count <= 0)
        return;
    JpegClient& client = clientOf(reinterpret_cast<j_common_ptr>(cinfo));
    jpeg_source_mgr& s = client.source;
    if (std::size_t(count) <= s.bytes_in_buffer) {
        s.next_input_byte += count;
        s.bytes_in_buffer -= std::size_t(count);
        return;
    }
    const long beyond = count - long(s.bytes_in_buffer);
    s.bytes_in_buffer = 0;
    client.in.skip(beyond); // at the end, the next fill says so
}

// Memory: each request charged before libjpeg's own method makes it; a pool's charges given
// back when it is freed. Sizes are libjpeg's requests plus its rounding and headers.
constexpr std::size_t Overhead = 64;

void charge(j_common_ptr cinfo, int pool, std::size_t bytes) {
    JpegClient& client = clientOf(cinfo);
    if (pool < 0 || pool >= JPOOL_NUMPOOLS || bytes > client.share - client.used ||
        !client.budget.tryTake(bytes))
        stopWith(cinfo, JpegClient::Stop::OverBudget);
    client.used += bytes;
    client.pools[std::size_t(pool)] += bytes;
}

void* allocSmall(j_common_ptr cinfo, int pool, std::size_t size) {
    charge(cinfo, pool, size + Overhead);
    return clientOf(cinfo).memory.alloc_small(cinfo, pool, size);
}

void* allocLarge(j_common_ptr cinfo, int pool, std::size_t size) {
    charge(cinfo, pool, size + Overhead);
    return clientOf(cinfo).memory.alloc_large(cinfo, pool, size);
}

std::size_t arrayBytes(std::size_t perRow, std::size_t rows, std::size_t element) {
    return rows * (perRow * element + sizeof(void*) + Overhead);
}

JSAMPARRAY allocSarray(j_common_ptr cinfo, int pool, JDIMENSION perRow, JDIMENSION rows) {
    charge(cinfo, pool, arrayBytes(perRow, rows, sizeof(JSAMPLE)));
    return clientOf(cinfo).memory.alloc_sarray(cinfo, pool, perRow, rows);
}

JBLOCKARRAY allocBarray(j_common_ptr cinfo, int pool, JDIMENSION perRow, JDIMENSION rows) {
    charge(cinfo, pool, arrayBytes(perRow, rows, sizeof(JBLOCK)));
    return clientOf(cinfo).memory.alloc_barray(cinfo, pool, perRow, rows);
}

// A virtual array is held whole (there is no backing store): charged when it is asked for.
jvirt_sarray_ptr requestSarray(j_common_ptr cinfo, int pool, boolean zero, JDIMENSION perRow,
                               JDIMENSION rows, JDIMENSION access) {
    charge(cinfo, pool, arrayBytes(perRow, std::size_t(rows) + access, sizeof(JSAMPLE)));
    return clientOf(cinfo).memory.request_virt_sarray(cinfo, pool, zero, perRow, rows, access);
}

jvirt_barray_ptr requestBarray(j_common_ptr cinfo, int pool, boolean zero, JDIMENSION perRow,
                               JDIMENSION rows, JDIMENSION access) {
    charge(cinfo, pool, arrayBytes(perRow, std::size_t(rows) + access, sizeof(JBLOCK)));
    return clientOf(cinfo).memory.request_virt_barray(cinfo, pool, zero, perRow, rows, access);
}

void freePool(j_common_ptr cinfo, int pool) {
    JpegClient& client = clientOf(cinfo);
    client.memory.free_pool(cinfo, pool);
    if (pool < 0 || pool >= JPOOL_NUMPOOLS)
        return;
    client.budget.give(client.pools[std::size_t(pool)]);
    client.used -= client.pools[std::size_t(pool)];
    client.pools[std::size_t(pool)] = 0;
}

void selfDestruct(j_common_ptr cinfo) {
    JpegClient& client = clientOf(cinfo);
    client.memory.self_destruct(cinfo);
    client.budget.give(client.used);
    client.used = 0;
    client.pools = {};
}

// APP1: the first EXIF segment's start is kept; the rest of it, and every other APP1, passed.
boolean readApp1(j_decompress_ptr cinfo) {
    JpegClient& client = clientOf(reinterpret_cast<j_common_ptr>(cinfo));
    jpeg_source_mgr& s = client.source;
    const auto byte = [&]() -> int {
        if (s.bytes_in_buffer == 0)
            fillInput(cinfo);
        --s.bytes_in_buffer;
        return *s.next_input_byte++;
    };
    const int high = byte();
    long length = long(high << 8 | byte()) - 2;
    if (length <= 0)
        return TRUE;
    if (client.exif.empty()) {
        const std::size_t keep = std::min<std::size_t>(std::size_t(length), MaxExifBytes);
        client.exif.resize(keep);
        for (std::size_t i = 0; i < keep; ++i)
            client.exif[i] = static_cast<unsigned char>(byte());
        length -= long(keep);
        if (keep < 6 || std::memcmp(client.exif.data(), "Exif\0\0", 6) != 0)
            Buffer<unsigned char>(client.exif.get_allocator()).swap(client.exif); // not EXIF
    }
    skipInput(cinfo, length);
    return TRUE;
}

} // namespace

JpegClient::JpegClient(jpeg_decompress_struct& c, Stream& stream, Budget& b, std::size_t most)
    : cinfo(c)
    , in(stream)
    , budget(b)
    , share(most)
    , exif(BudgetAllocator<unsigned char>(b)) {
    c.client_data = this;
    c.err = jpeg_std_error(&errors);
    errors.error_exit = errorExit;
    errors.emit_message = emitMessage;
}

void JpegClient::install() {
    JpegClient& client = *this;
    jpeg_decompress_struct& c = cinfo;
    // What libjpeg took before its methods were ours: its manager and the first modules.
    charge(reinterpret_cast<j_common_ptr>(&c), JPOOL_PERMANENT, 16 * 1024);
    client.memory = *c.mem;
    c.mem->alloc_small = allocSmall;
    c.mem->alloc_large = allocLarge;
    c.mem->alloc_sarray = allocSarray;
    c.mem->alloc_barray = allocBarray;
    c.mem->request_virt_sarray = requestSarray;
    c.mem->request_virt_barray = requestBarray;
    c.mem->free_pool = freePool;
    c.mem->self_destruct = selfDestruct;
    c.mem->max_memory_to_use = long(client.share);
    client.source.init_source = initSource;
    client.source.fill_input_buffer = fillInput;
    client.source.skip_input_data = skipInput;
    client.source.resync_to_restart = jpeg_resync_to_restart;
    client.source.term_source = termSource;
    c.src = &client.source;
    client.progress.progress_monitor = watchScans;
    c.progress = &client.progress;
    jpeg_set_marker_processor(&c, JPEG_APP0 + 1, readApp1);
}

void JpegClient::giveBackUnread() {
    in.giveBack(source.bytes_in_buffer);
    source.bytes_in_buffer = 0;
}

int exifOrientation(const Buffer<unsigned char>& exif) {
    const std::int64_t n = std::int64_t(exif.size());
    if (n < 14)
        return 1;
    const unsigned char* tiff = exif.data() + 6;
    const std::int64_t size = n - 6;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
        return 1;
    const auto u16 = [&](std::int64_t at) -> std::uint32_t {
        if (at < 0 || at + 2 > size)
            return 0;
        return little ? le16(tiff + at) : be16(tiff + at);
    };
    const auto u32 = [&](std::int64_t at) -> std::uint32_t {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    const std::int64_t ifd = u32(4);
    const std::uint32_t entries = u16(ifd);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::int64_t at = ifd + 2 + 12 * std::int64_t(i);
        if (at + 12 > size)
            break;
        if (u16(at) == 0x0112 && u16(at + 2) == 3) { // orientation, a SHORT
            const std::uint32_t value = u16(at + 8);
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
    }
    return 1;
}

} // namespace rt::pictures
