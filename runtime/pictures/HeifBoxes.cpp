// Reading a HEIF file's boxes (ISO/IEC 14496-12 and 23008-12): 'ftyp', then in 'meta' the
// handler, the primary item, the items' types ('iinf'), places ('iloc'), references ('iref') and
// properties ('iprp'), and the 'idat' box. Every length is checked against what holds it.
#include "HeifBoxes.h"

#include "Fault.h"

#include <algorithm>

namespace rt::pictures::heif {
namespace {

// The payload of one box, read front to back; reading past its end is a fault of the file.
class Reader {
public:
    Reader(const Snapshot& file, Range range, const char* format)
        : m_file(file)
        , m_at(range.offset)
        , m_end(range.offset + range.size)
        , m_format(format) {}

    std::uint64_t read(int bytes) {
        if (bytes < 0 || bytes > 8 || m_end - m_at < bytes)
            broken();
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value = value << 8 | std::uint64_t(m_file.at(m_at + i));
        m_at += bytes;
        return value;
    }
    std::uint32_t u8() { return std::uint32_t(read(1)); }
    std::uint32_t u16() { return std::uint32_t(read(2)); }
    std::uint32_t u32() { return std::uint32_t(read(4)); }
    // A FullBox's version; its flags go to `flags` when asked.
    std::uint32_t version(std::uint32_t* flags = nullptr) {
        const std::uint32_t word = u32();
        if (flags)
            *flags = word & 0xFFFFFF;
        return word >> 24;
    }
    Range rest() const { return {m_at, m_end - m_at}; }
    std::int64_t left() const { return m_end - m_at; }
    [[noreturn]] void broken() const {
        fail(damaged(std::string("its ") + m_format + " boxes do not fit in one another"));
    }

private:
    const Snapshot& m_file;
    std::int64_t m_at;
    std::int64_t m_end;
    const char* m_format;
};

// Calls visit(type, payload) for each box in `range`, in order. A box longer than what holds it
// is cut short at the top level (the file ends inside it) and damaged inside another box.
template <class Visit>
void forEachBox(const Snapshot& file, Range range, const char* format, bool top, Visit visit) {
    std::int64_t at = range.offset;
    const std::int64_t end = range.offset + range.size;
    while (end - at >= 8) {
        Reader header(file, {at, end - at}, format);
        std::uint64_t size = header.u32();
        const std::uint32_t type = header.u32();
        std::int64_t headerSize = 8;
        if (size == 1) {
            size = header.read(8);
            headerSize = 16;
        } else if (size == 0) {
            size = std::uint64_t(end - at);
        }
        if (size < std::uint64_t(headerSize))
            header.broken();
        if (size > std::uint64_t(end - at)) {
            if (!top)
                header.broken();
            if (type == fourcc("meta"))
                fail(cutShort(format));
            return; // the data a cut file held: what items lie there is found cut short
        }
        if (!visit(type, Range{at + headerSize, std::int64_t(size) - headerSize}))
            return;
        at += std::int64_t(size);
    }
}

struct Located {
    std::uint32_t id;
    int construction;
    std::uint64_t baseOffset;
    std::uint32_t firstExtent, extents;
};
struct Slice {
    std::uint32_t id;
    std::uint32_t first, count;
};

bool byId(const Item& a, const Item& b) {
    return a.id < b.id;
}

} // namespace

Structure::Structure(Budget& budget)
    : m_items(BudgetAllocator<Item>(budget))
    , m_extents(BudgetAllocator<Extent>(budget))
    , m_properties(BudgetAllocator<Property>(budget))
    , m_associations(BudgetAllocator<std::uint32_t>(budget))
    , m_tiles(BudgetAllocator<std::uint32_t>(budget)) {}

const Item* Structure::item(std::uint32_t id) const {
    Item key;
    key.id = id;
    const auto at = std::lower_bound(m_items.begin(), m_items.end(), key, byId);
    return at != m_items.end() && at->id == id ? &*at : nullptr;
}

std::span<const std::uint32_t> Structure::propertiesOf(const Item& item) const {
    return std::span(m_associations).subspan(item.firstProperty, item.properties);
}

const Property* Structure::property(std::uint32_t index) const {
    return index >= 1 && index <= m_properties.size() ? &m_properties[index - 1] : nullptr;
}

const Property* Structure::find(const Item& item, std::uint32_t type) const {
    for (const std::uint32_t index : propertiesOf(item))
        if (const Property* p = property(index); p && p->type == type)
            return p;
    return nullptr;
}

std::span<const std::uint32_t> Structure::tilesOf(const Item& item) const {
    return std::span(m_tiles).subspan(item.firstTile, item.tiles);
}

const Item* Structure::alphaOf(const Item& master, const Snapshot& file) const {
    for (const Item& i : m_items) {
        if (i.auxiliaryOf != master.id)
            continue;
        const Property* auxC = find(i, fourcc("auxC"));
        if (!auxC || auxC->payload.size < 5)
            continue;
        // A FullBox: version and flags, then the type as a string ending in NUL.
        std::string type;
        for (std::int64_t at = auxC->payload.offset + 4;
             at < auxC->payload.offset + auxC->payload.size && file.at(at) > 0; ++at)
            type += char(file.at(at));
        if (type == "urn:mpeg:mpegB:cicp:systems:auxiliary:alpha" ||
            type == "urn:mpeg:hevc:2015:auxid:1")
            return &i;
    }
    return nullptr;
}

std::span<const unsigned char> Structure::bytesOf(const Item& item, const Snapshot& file,
                                                  Buffer<unsigned char>& joined) const {
    if (!item.located || item.construction > 1 || item.extents == 0)
        fail(damaged(std::string("an image's bytes are in no place of the file")));
    const Range within = item.construction == 1 ? m_idat : Range{0, file.size()};
    const auto place = [&](const Extent& e) -> std::span<const unsigned char> {
        const std::uint64_t offset = item.baseOffset + e.offset;
        const std::uint64_t room = std::uint64_t(within.size);
        if (offset > room || (e.length > 0 && e.length > room - offset)) {
            if (item.construction == 0)
                fail(FaultKind::CutShort, "is cut short (an image's data lies past its end)");
            fail(damaged(std::string("an image's data lies outside its 'idat' box")));
        }
        const std::uint64_t length = e.length > 0 ? e.length : room - offset;
        return {file.data() + within.offset + offset, std::size_t(length)};
    };
    const std::span<const Extent> extents =
        std::span(m_extents).subspan(item.firstExtent, item.extents);
    if (extents.size() == 1)
        return place(extents[0]);
    joined.clear();
    for (const Extent& e : extents) {
        const auto bytes = place(e);
        joined.insert(joined.end(), bytes.begin(), bytes.end());
    }
    return joined;
}

Structure readStructure(const Snapshot& file, Budget& budget, const char* format) {
    Structure s(budget);
    Range meta{-1, 0};
    bool typed = false;
    forEachBox(file, {0, file.size()}, format, true, [&](std::uint32_t type, Range payload) {
        if (type == fourcc("ftyp"))
            typed = true;
        else if (type == fourcc("meta") && meta.offset < 0)
            meta = payload;
        return meta.offset < 0;
    });
    if (!typed || meta.offset < 0)
        fail(damaged(std::string("it holds no ") + format + " picture (no 'meta' box)"));

    Buffer<Located> located{BudgetAllocator<Located>(budget)};
    Buffer<Slice> associated{BudgetAllocator<Slice>(budget)};
    Buffer<Slice> derived{BudgetAllocator<Slice>(budget)};
    Buffer<Slice> auxiliary{BudgetAllocator<Slice>(budget)};
    bool picture = false, hasPrimary = false;
    Reader metaHeader(file, meta, format);
    metaHeader.version();
    forEachBox(file, metaHeader.rest(), format, false, [&](std::uint32_t type, Range payload) {
        Reader r(file, payload, format);
        if (type == fourcc("hdlr")) {
            r.version();
            r.u32(); // pre_defined
            picture = r.u32() == fourcc("pict");
        } else if (type == fourcc("pitm")) {
            s.m_primary = r.version() == 0 ? r.u16() : r.u32();
            hasPrimary = true;
        } else if (type == fourcc("idat")) {
            s.m_idat = payload;
        } else if (type == fourcc("iinf")) {
            r.read(r.version() == 0 ? 2 : 4); // the count: the boxes that follow tell
            forEachBox(file, r.rest(), format, false, [&](std::uint32_t t, Range entry) {
                Reader e(file, entry, format);
                const std::uint32_t version = e.version();
                if (t != fourcc("infe") || version < 2)
                    return true;
                Item item;
                item.id = version == 2 ? e.u16() : e.u32();
                e.u16(); // protection index
                item.type = e.u32();
                s.m_items.push_back(item);
                return true;
            });
        } else if (type == fourcc("iloc")) {
            const std::uint32_t version = r.version();
            if (version > 2)
                r.broken();
            const std::uint32_t sizes = r.u16();
            const int offsetSize = int(sizes >> 12), lengthSize = int(sizes >> 8 & 15);
            const int baseSize = int(sizes >> 4 & 15),
                      indexSize = version >= 1 ? int(sizes & 15) : 0;
            const std::uint32_t count = version < 2 ? r.u16() : r.u32();
            for (std::uint32_t i = 0; i < count; ++i) {
                Located l{};
                l.id = version < 2 ? r.u16() : r.u32();
                if (version >= 1)
                    l.construction = int(r.u16() & 15);
                r.u16(); // data reference: this file
                l.baseOffset = r.read(baseSize);
                l.firstExtent = std::uint32_t(s.m_extents.size());
                l.extents = r.u16();
                for (std::uint32_t e = 0; e < l.extents; ++e) {
                    r.read(indexSize);
                    Extent extent;
                    extent.offset = r.read(offsetSize);
                    extent.length = r.read(lengthSize);
                    s.m_extents.push_back(extent);
                }
                located.push_back(l);
            }
        } else if (type == fourcc("iref")) {
            const int idSize = r.version() == 0 ? 2 : 4;
            forEachBox(file, r.rest(), format, false, [&](std::uint32_t t, Range refs) {
                Reader e(file, refs, format);
                Slice slice{std::uint32_t(e.read(idSize)), 0, 0};
                const std::uint32_t count = e.u16();
                if (t == fourcc("dimg")) {
                    slice.first = std::uint32_t(s.m_tiles.size());
                    slice.count = count;
                    for (std::uint32_t i = 0; i < count; ++i)
                        s.m_tiles.push_back(std::uint32_t(e.read(idSize)));
                    derived.push_back(slice);
                } else if (t == fourcc("auxl") && count >= 1) {
                    slice.first = std::uint32_t(e.read(idSize));
                    auxiliary.push_back(slice);
                }
                return true;
            });
        } else if (type == fourcc("iprp")) {
            forEachBox(file, payload, format, false, [&](std::uint32_t t, Range inner) {
                Reader e(file, inner, format);
                if (t == fourcc("ipco")) {
                    forEachBox(file, inner, format, false, [&](std::uint32_t p, Range box) {
                        s.m_properties.push_back(Property{p, box});
                        return true;
                    });
                } else if (t == fourcc("ipma")) {
                    std::uint32_t flags = 0;
                    const std::uint32_t version = e.version(&flags);
                    const std::uint32_t count = e.u32();
                    for (std::uint32_t i = 0; i < count; ++i) {
                        Slice slice{version < 1 ? e.u16() : e.u32(),
                                    std::uint32_t(s.m_associations.size()), e.u8()};
                        for (std::uint32_t a = 0; a < slice.count; ++a)
                            s.m_associations.push_back((flags & 1) ? e.u16() & 0x7FFF
                                                                   : e.u8() & 0x7F);
                        associated.push_back(slice);
                    }
                }
                return true;
            });
        }
        return true;
    });
    if (!picture)
        fail(
            damaged(std::string("it holds no ") + format + " picture (its handler is not 'pict')"));
    if (!hasPrimary)
        fail(damaged(std::string("it names no primary picture")));

    std::sort(s.m_items.begin(), s.m_items.end(), byId);
    if (std::adjacent_find(s.m_items.begin(), s.m_items.end(), [](const Item& a, const Item& b) {
            return a.id == b.id;
        }) != s.m_items.end())
        fail(damaged(std::string("two of its items have the same number")));
    // The first of each kind of record counts for an item; later ones are passed over.
    const auto itemFor = [&s](std::uint32_t id) { return const_cast<Item*>(s.item(id)); };
    for (const Located& l : located)
        if (Item* i = itemFor(l.id); i && !i->located) {
            i->located = true;
            i->construction = l.construction;
            i->baseOffset = l.baseOffset;
            i->firstExtent = l.firstExtent;
            i->extents = l.extents;
        }
    for (const Slice& a : associated)
        if (Item* i = itemFor(a.id); i && i->properties == 0) {
            i->firstProperty = a.first;
            i->properties = a.count;
        }
    for (const Slice& d : derived)
        if (Item* i = itemFor(d.id); i && i->tiles == 0) {
            i->firstTile = d.first;
            i->tiles = d.count;
        }
    for (const Slice& a : auxiliary)
        if (Item* i = itemFor(a.id); i && i->auxiliaryOf == 0)
            i->auxiliaryOf = a.first;
    return s;
}

} // namespace rt::pictures::heif
