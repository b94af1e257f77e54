// JPEG files written by hand, in the shapes no encoder writes and an attacker does: shared by
// the bad-input tests and the fuzz corpus.
#pragma once

#include <QByteArray>

namespace hostile {

inline QByteArray segment(int marker, const QByteArray& payload) {
    const int length = int(payload.size()) + 2;
    return QByteArray(1, char(0xFF)) + char(marker) + char(length >> 8) + char(length) + payload;
}

// A frame header (SOF0 baseline, SOF2 progressive, SOF10 arithmetic progressive) of components
// 1, 2, ... sampled 1 x 1.
inline QByteArray frame(int marker, int width, int height, int components) {
    QByteArray p(1, 8);
    p.append(char(height >> 8)).append(char(height)).append(char(width >> 8)).append(char(width));
    p.append(char(components));
    for (int i = 1; i <= components; ++i)
        p.append(char(i)).append(char(0x11)).append('\0');
    return segment(marker, p);
}

// A scan of the components listed (coefficients `first` to `last`), then `data` bytes of
// entropy-coded zeros.
inline QByteArray scan(const QByteArray& components, int data = 16, int first = 0, int last = 0) {
    QByteArray p(1, char(components.size()));
    for (const char id : components)
        p.append(id).append('\0');
    p.append(char(first)).append(char(last)).append('\0');
    return segment(0xDA, p) + QByteArray(data, '\0');
}

// Quantisation steps of 1, a DC table whose one code, a 0 bit, means no change, and an AC table
// whose one code, a 0 bit, ends the block: entropy-coded zero bytes are a flat grey picture.
inline QByteArray tables() {
    QByteArray counts(17, '\0');
    counts[1] = 1;
    QByteArray steps(65, 1);
    steps[0] = 0;
    QByteArray ac = counts;
    ac[0] = 0x10;
    return segment(0xDB, steps) + segment(0xC4, counts + '\0') + segment(0xC4, ac + '\0');
}

inline QByteArray restartInterval(int blocks) {
    return segment(0xDD, QByteArray(1, char(blocks >> 8)) + char(blocks));
}

const QByteArray Soi("\xFF\xD8", 2), Eoi("\xFF\xD9", 2);

// FF 00 between segments: no marker, libjpeg passes over it.
inline QByteArray strayBytesBeforeFrame(int side) {
    return Soi + tables() + QByteArray("\xFF\x00\x00\x0A", 4) + frame(0xC2, side, side, 1) +
           scan("\x01") + Eoi;
}
// A baseline frame whose only scan holds one of three components.
inline QByteArray scanOfFewerComponents(int side) {
    return Soi + tables() + frame(0xC0, side, side, 3) + scan("\x01") + Eoi;
}
// And a frame of 65535 x 65535 in an APP1 after the scan's data.
inline QByteArray scanBeforeFrame() {
    return Soi + tables() + scan("\x01", 0) + QByteArray("\x12\xFF\x00\x05", 4) +
           segment(0xE1, frame(0xC2, 65535, 65535, 1)) + Eoi;
}
// A DC scan of the components listed after a first scan that is whole.
inline QByteArray dcScanListing(const QByteArray& components, int side) {
    return Soi + tables() + frame(0xC2, side, side, 3) + scan("\x01\x02\x03") + scan(components) +
           Eoi;
}
// A baseline picture of three components, each in a scan of its own: libjpeg holds every
// coefficient of the picture.
inline QByteArray scanPerComponent(int side) {
    return Soi + tables() + frame(0xC0, side, side, 3) + scan("\x01") + scan("\x02") +
           scan("\x03") + Eoi;
}
// Progressive and arithmetic-coded: libjpeg holds every coefficient.
inline QByteArray arithmeticProgressive(int side) {
    return Soi + frame(0xCA, side, side, 1) + scan("\x01", 4) + Eoi;
}
// Progressive in four components (CMYK): libjpeg holds every coefficient.
inline QByteArray progressiveCmyk(int side) {
    return Soi + tables() + frame(0xC2, side, side, 4) + scan("\x01\x02\x03\x04") + Eoi;
}
// A progressive grey picture whose DC scan is followed by `count` empty AC scans, each of which
// makes a decoder walk every block again; cut short before its end if `cut`.
inline QByteArray emptyScans(int side, int count, bool cut = false) {
    QByteArray d = Soi + tables() + frame(0xC2, side, side, 1) + scan("\x01");
    const QByteArray empty = scan("\x01", 0, 1, 63);
    d.reserve(d.size() + count * empty.size() + 2);
    for (int i = 0; i < count; ++i)
        d += empty;
    return cut ? d : d + Eoi;
}
// A baseline picture of three components in scans of one, scanned again and again.
inline QByteArray sequentialScans(int side, int count) {
    QByteArray d = Soi + tables() + frame(0xC0, side, side, 3);
    for (int i = 0; i < count; ++i)
        d += scan(QByteArray(1, char(1 + i % 3)), 0);
    return d + Eoi;
}
// A progressive grey picture with a restart marker due after every block, but data for none.
inline QByteArray restartEveryBlock(int width, int height) {
    return Soi + tables() + restartInterval(1) + frame(0xC2, width, height, 1) + scan("\x01", 4) +
           Eoi;
}
// APP1 segments of `each` bytes, `count` of them, before the JPEG that follows its SOI.
inline QByteArray withApp1(const QByteArray& jpeg, int count, int each = 65000) {
    const QByteArray app1 = segment(0xE1, QByteArray("Exif\0\0", 6) + QByteArray(each - 6, 'x'));
    QByteArray d = jpeg.left(2);
    d.reserve(jpeg.size() + count * app1.size());
    for (int i = 0; i < count; ++i)
        d += app1;
    return d + jpeg.mid(2);
}

} // namespace hostile
