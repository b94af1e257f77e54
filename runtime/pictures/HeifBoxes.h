// The structure of a HEIF file (HEIC, AVIF): its items, where each one's bytes lie, how they
// refer to each other and the properties each carries, read from the boxes of its 'meta' box.
// Nothing is decoded here; every list is charged to the load's budget.
#pragma once

#include "Budget.h"
#include "Snapshot.h"

#include <cstdint>
#include <span>

namespace rt::pictures::heif {

constexpr std::uint32_t fourcc(const char (&s)[5]) {
    return std::uint32_t(std::uint8_t(s[0])) << 24 | std::uint32_t(std::uint8_t(s[1])) << 16 |
           std::uint32_t(std::uint8_t(s[2])) << 8 | std::uint8_t(s[3]);
}

// Bytes of the file: where they start and how many.
struct Range {
    std::int64_t offset = 0;
    std::int64_t size = 0;
};

// A property box of 'ipco': its type and its payload (after the box header).
struct Property {
    std::uint32_t type = 0;
    Range payload;
};

struct Item {
    std::uint32_t id = 0;
    std::uint32_t type = 0; // 'hvc1', 'av01', 'grid', ...
    bool located = false;   // 'iloc' says where its bytes are
    int construction = 0;   // 0: offsets in the file, 1: offsets in the 'idat' box
    std::uint64_t baseOffset = 0;
    std::uint32_t auxiliaryOf = 0; // the item an 'auxl' reference names, or 0
    // Slices of the structure's shared lists.
    std::uint32_t firstExtent = 0, extents = 0;
    std::uint32_t firstProperty = 0, properties = 0;
    std::uint32_t firstTile = 0, tiles = 0; // 'dimg' references, in order
};

struct Extent {
    std::uint64_t offset = 0;
    std::uint64_t length = 0; // 0: to the end of the file (or of the 'idat' box)
};

class Structure {
public:
    explicit Structure(Budget& budget);

    std::uint32_t primary() const { return m_primary; }
    // The item of that id, or null.
    const Item* item(std::uint32_t id) const;
    // The item's properties in the order 'ipma' lists them (the order transforms apply in).
    std::span<const std::uint32_t> propertiesOf(const Item& item) const;
    const Property* property(std::uint32_t index) const; // 1-based, as 'ipma' counts
    // The item's first property of that type, or null.
    const Property* find(const Item& item, std::uint32_t type) const;
    std::span<const std::uint32_t> tilesOf(const Item& item) const;
    // The item that holds the alpha of `item` ('auxl' with an alpha 'auxC'), or null.
    const Item* alphaOf(const Item& item, const Snapshot& file) const;
    // The item's bytes: the file's own when they lie in one extent, else joined into `joined`.
    std::span<const unsigned char> bytesOf(const Item& item, const Snapshot& file,
                                           Buffer<unsigned char>& joined) const;

private:
    friend Structure readStructure(const Snapshot& file, Budget& budget, const char* format);
    std::uint32_t m_primary = 0;
    Range m_idat;
    Buffer<Item> m_items; // by id
    Buffer<Extent> m_extents;
    Buffer<Property> m_properties;
    Buffer<std::uint32_t> m_associations;
    Buffer<std::uint32_t> m_tiles;
};

// The structure of the HEIF file in `file`; a file that does not hold one is reported as a
// fault of `format` ("HEIF").
Structure readStructure(const Snapshot& file, Budget& budget, const char* format);

} // namespace rt::pictures::heif
