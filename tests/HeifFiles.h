// HEIF files written box by box for the tests and the benchmark: what heif-enc 1.15 cannot write
// (grids of tiles, rotations and mirrors, clean apertures) and what no encoder writes (sizes that
// lie), built around the coded pictures that heif-enc and avifenc do write.
#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

namespace test::heif {

inline QByteArray be16(int v) {
    return QByteArray(1, char(v >> 8)) + char(v);
}
inline QByteArray be32(quint32 v) {
    return be16(int(v >> 16)) + be16(int(v & 0xFFFF));
}
inline QByteArray box(const char* type, const QByteArray& payload) {
    return be32(quint32(8 + payload.size())) + QByteArray(type, 4) + payload;
}
inline QByteArray fullBox(const char* type, int version, quint32 flags, const QByteArray& payload) {
    return box(type, be32(quint32(version) << 24 | flags) + payload);
}

// Property boxes.
inline QByteArray ispe(quint32 width, quint32 height) {
    return fullBox("ispe", 0, 0, be32(width) + be32(height));
}
inline QByteArray irot(int quarterTurnsAnticlockwise) {
    return box("irot", QByteArray(1, char(quarterTurnsAnticlockwise)));
}
// 0: top and bottom exchanged, 1: left and right.
inline QByteArray imir(int mode) {
    return box("imir", QByteArray(1, char(mode)));
}
// A clean aperture of whole pixels, its centre moved by (dx, dy) from the picture's.
inline QByteArray clap(quint32 width, quint32 height, qint32 dx, qint32 dy) {
    return box("clap", be32(width) + be32(1) + be32(height) + be32(1) + be32(quint32(dx)) +
                           be32(1) + be32(quint32(dy)) + be32(1));
}
// A grid image's data.
inline QByteArray gridData(int rows, int columns, quint32 width, quint32 height) {
    const bool wide = width > 0xFFFF || height > 0xFFFF;
    QByteArray d(1, '\0');
    d += char(wide ? 1 : 0);
    d += char(rows - 1);
    d += char(columns - 1);
    return d + (wide ? be32(width) + be32(height) : be16(int(width)) + be16(int(height)));
}

// The primary picture of a HEIF file as an encoder wrote it: its type ("hvc1", "av01"), its
// property boxes in order (configuration, size, colour, ...) and its coded bytes. Reads only
// what heif-enc and avifenc write: 'iloc' of version 0 or 1 with offsets into the file.
struct Coded {
    QByteArray type;
    QList<QByteArray> properties;
    QByteArray data;
};

namespace detail {
inline quint64 number(const QByteArray& d, qsizetype at, int bytes) {
    quint64 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | quint8(d.at(at + i));
    return v;
}
// Each box in d[from, to): calls visit(type, payload start, payload end).
template <class Visit> void boxes(const QByteArray& d, qsizetype from, qsizetype to, Visit visit) {
    while (from + 8 <= to) {
        const qsizetype size = qsizetype(number(d, from, 4));
        if (size < 8 || from + size > to)
            return;
        visit(d.mid(from + 4, 4), from + 8, from + size);
        from += size;
    }
}
} // namespace detail

inline std::optional<Coded> primaryOf(const QByteArray& file) {
    using detail::boxes;
    using detail::number;
    Coded coded;
    quint32 primary = 0;
    QList<QByteArray> all;
    QList<int> mine;
    qint64 offset = -1, length = 0;
    boxes(file, 0, file.size(), [&](const QByteArray& type, qsizetype at, qsizetype end) {
        if (type != "meta")
            return;
        boxes(file, at + 4, end, [&](const QByteArray& t, qsizetype p, qsizetype e) {
            if (t == "pitm")
                primary = quint32(number(file, p + 4, 2));
            else if (t == "iinf")
                boxes(file, p + 6, e, [&](const QByteArray&, qsizetype ip, qsizetype) {
                    if (number(file, ip + 4, 2) == primary)
                        coded.type = file.mid(ip + 8, 4);
                });
            else if (t == "iloc") {
                const int version = quint8(file.at(p));
                const int sizes = int(number(file, p + 4, 2));
                const int offsetSize = sizes >> 12, lengthSize = sizes >> 8 & 15,
                          baseSize = sizes >> 4 & 15;
                qsizetype q = p + 8;
                for (int n = int(number(file, p + 6, 2)); n > 0; --n) {
                    const quint32 id = quint32(number(file, q, 2));
                    q += 2 + (version >= 1 ? 2 : 0) + 2;
                    const qint64 base = qint64(number(file, q, baseSize));
                    q += baseSize;
                    const int extents = int(number(file, q, 2));
                    q += 2;
                    for (int x = 0; x < extents; ++x) {
                        if (id == primary && x == 0) {
                            offset = base + qint64(number(file, q, offsetSize));
                            length = qint64(number(file, q + offsetSize, lengthSize));
                        }
                        q += offsetSize + lengthSize;
                    }
                }
            } else if (t == "iprp") {
                boxes(file, p, e, [&](const QByteArray& it, qsizetype ip, qsizetype ie) {
                    if (it == "ipco")
                        boxes(file, ip, ie, [&](const QByteArray&, qsizetype bp, qsizetype be) {
                            all.append(file.mid(bp - 8, be - bp + 8));
                        });
                    else if (it == "ipma") {
                        const bool wide = quint8(file.at(ip + 3)) & 1;
                        qsizetype q = ip + 8;
                        for (int n = int(number(file, ip + 4, 4)); n > 0; --n) {
                            const quint32 id = quint32(number(file, q, 2));
                            const int count = quint8(file.at(q + 2));
                            q += 3;
                            for (int a = 0; a < count; ++a, q += wide ? 2 : 1)
                                if (id == primary)
                                    mine.append(int(number(file, q, wide ? 2 : 1)) &
                                                (wide ? 0x7FFF : 0x7F));
                        }
                    }
                });
            }
        });
    });
    if (coded.type.isEmpty() || offset < 0 || length <= 0 || offset + length > file.size())
        return std::nullopt;
    for (const int index : mine)
        if (index >= 1 && index <= all.size())
            coded.properties.append(all[index - 1]);
    coded.data = file.mid(offset, length);
    return coded;
}

struct Item {
    quint32 id = 0;
    QByteArray type;       // "hvc1", "av01", "grid"
    QByteArray data;       // its bytes, in 'mdat'
    QList<int> properties; // 1-based places in the file's list of properties
    QList<quint32> tiles;  // 'dimg' references
    quint32 alphaOf = 0;   // an 'auxl' reference
    bool hidden = false;
};

// A hidden item of the coded picture `coded`, its properties added to `properties` once each.
inline Item codedItem(quint32 id, const Coded& coded, QList<QByteArray>& properties) {
    Item item{id, coded.type, coded.data, {}, {}, 0, true};
    for (const QByteArray& p : coded.properties) {
        qsizetype index = properties.indexOf(p);
        if (index < 0) {
            index = properties.size();
            properties.append(p);
        }
        item.properties.append(int(index) + 1);
    }
    return item;
}

// A HEIF file of `brand` ("heic", "avif") whose primary item is `primary`; each item's data is
// placed once in 'mdat' (items of equal data share the bytes), the properties in 'ipco'.
inline QByteArray write(const char* brand, quint32 primary, const QList<QByteArray>& properties,
                        const QList<Item>& items) {
    QList<qsizetype> place;
    QList<QByteArray> blobs;
    for (const Item& i : items) {
        qsizetype index = blobs.indexOf(i.data);
        if (index < 0) {
            index = blobs.size();
            blobs.append(i.data);
        }
        place.append(index);
    }
    const auto meta = [&](qint64 mdatData) {
        QList<qint64> starts;
        qint64 at = mdatData;
        for (const QByteArray& b : blobs) {
            starts.append(at);
            at += b.size();
        }
        QByteArray iloc = be16(0x4400) + be16(int(items.size()));
        QByteArray iinf = be16(int(items.size()));
        QByteArray iref, ipma = be32(quint32(items.size()));
        for (qsizetype n = 0; n < items.size(); ++n) {
            const Item& i = items[n];
            iloc += be16(int(i.id)) + be16(0) + be16(1) + be32(quint32(starts[place[n]])) +
                    be32(quint32(i.data.size()));
            iinf += fullBox("infe", 2, i.hidden ? 1 : 0,
                            be16(int(i.id)) + be16(0) + i.type + QByteArray(1, '\0'));
            if (!i.tiles.isEmpty()) {
                QByteArray refs = be16(int(i.id)) + be16(int(i.tiles.size()));
                for (const quint32 t : i.tiles)
                    refs += be16(int(t));
                iref += box("dimg", refs);
            }
            if (i.alphaOf)
                iref += box("auxl", be16(int(i.id)) + be16(1) + be16(int(i.alphaOf)));
            ipma += be16(int(i.id)) + char(i.properties.size());
            for (const int p : i.properties)
                ipma += be16(p);
        }
        QByteArray ipco;
        for (const QByteArray& p : properties)
            ipco += p;
        QByteArray body = fullBox("hdlr", 0, 0, be32(0) + "pict" + QByteArray(13, '\0')) +
                          fullBox("pitm", 0, 0, be16(int(primary))) + fullBox("iinf", 0, 0, iinf);
        if (!iref.isEmpty())
            body += fullBox("iref", 0, 0, iref);
        body += box("iprp", box("ipco", ipco) + fullBox("ipma", 0, 1, ipma)) +
                fullBox("iloc", 0, 0, iloc);
        return fullBox("meta", 0, 0, body);
    };
    const QByteArray ftyp =
        box("ftyp", QByteArray(brand, 4) + be32(0) + "mif1" + QByteArray(brand, 4) + "miaf");
    const qint64 mdatData = ftyp.size() + meta(0).size() + 8;
    QByteArray mdat;
    for (const QByteArray& b : blobs)
        mdat += b;
    return ftyp + meta(mdatData) + box("mdat", mdat);
}

} // namespace test::heif
