// The JPEG markers the block means read by name: the byte after an FF.
#pragma once

namespace rt::pictures::jpeg {

constexpr int TEM = 0x01;  // stands alone, no segment
constexpr int SOF0 = 0xC0; // frames are C0-CF but DHT, JPG and DAC
constexpr int SOF2 = 0xC2; // the progressive Huffman frame
constexpr int SOF15 = 0xCF;
constexpr int DHT = 0xC4;
constexpr int JPG = 0xC8;
constexpr int DAC = 0xCC;
constexpr int RST0 = 0xD0; // RST0-RST7 between restart intervals
constexpr int RST7 = 0xD7;
constexpr int SOI = 0xD8;
constexpr int EOI = 0xD9;
constexpr int SOS = 0xDA;
constexpr int DQT = 0xDB;
constexpr int DRI = 0xDD;

constexpr bool isRestart(int marker) {
    return marker >= RST0 && marker <= RST7;
}
constexpr bool isFrame(int marker) {
    return marker >= SOF0 && marker <= SOF15 && marker != DHT && marker != JPG && marker != DAC;
}

} // namespace rt::pictures::jpeg
