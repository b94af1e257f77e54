// SVG and gzipped SVG drawings: librsvg draws the file's own bytes (no base file, so nothing it
// names beside it is opened) straight at the shown size, stretched to fill it. A .svgz is
// inflated here, within a cap, before librsvg sees it.
#include "Codecs.h"
#include "Formats.h"
#include "Limits.h"

#include <zlib.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace rt::pictures {
namespace {

const char* const Name = "SVG";

bool isGzip(std::span<const unsigned char> head) {
    return startsWith(head, "\x1F\x8B");
}

// The start of the text after a byte-order mark and blanks.
std::string_view textStart(std::span<const unsigned char> head) {
    std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    while (!text.empty() &&
           (text[0] == ' ' || text[0] == '\t' || text[0] == '\r' || text[0] == '\n'))
        text.remove_prefix(1);
    return text;
}

bool sniffSvg(std::span<const unsigned char> head) {
    if (isGzip(head))
        return true; // told apart from other gzipped files once inflated
    const std::string_view text = textStart(head);
    return text.starts_with("<svg") || text.starts_with("<?xml") ||
           text.starts_with("<!DOCTYPE svg") || text.starts_with("<!--");
}

// The gzipped file inflated into memory charged to the budget, up to MaxSvgBytes.
Buffer<unsigned char> inflated(Load& load, const Buffer<unsigned char>& packed) {
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        throw OverBudget();
    struct End {
        z_stream* z;
        ~End() { inflateEnd(z); }
    } end{&z};
    Buffer<unsigned char> text(BudgetAllocator<unsigned char>(load.budget));
    text.reserve(std::min<std::size_t>(MaxSvgBytes, packed.size() * 4 + 4096));
    z.next_in = const_cast<unsigned char*>(packed.data());
    z.avail_in = uInt(packed.size());
    unsigned char piece[16384];
    for (;;) {
        z.next_out = piece;
        z.avail_out = sizeof piece;
        const int status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            fail(damaged(std::string("its gzip data cannot be inflated")));
        const std::size_t got = sizeof piece - z.avail_out;
        if (text.size() + got > MaxSvgBytes)
            fail(FaultKind::TooLarge, "is too large (more than " +
                                          std::to_string(MaxSvgBytes >> 20) +
                                          " MB of drawing once inflated)");
        text.insert(text.end(), piece, piece + got);
        if (status == Z_STREAM_END)
            return text;
        if (got == 0 && (status == Z_BUF_ERROR || z.avail_in == 0))
            fail(cutShort("gzip"));
    }
}

// A part of the drawing that can be drawn on its own: the document, or an element with an id.
struct Part {
    std::size_t elements = 0;       // its own, not those of the parts inside it
    std::vector<std::string> names; // what it draws besides: `use` targets, parts inside it
    std::size_t cost = 0;           // elements drawn when it is drawn, once known
    int state = 0;                  // 0 not yet walked, 1 being walked, 2 known
};

// The value of attribute `name` in the tag text, or empty.
std::string_view attribute(std::string_view tag, std::string_view name) {
    for (std::size_t at = tag.find(name); at != std::string_view::npos;
         at = tag.find(name, at + 1)) {
        const char before = at == 0 ? ' ' : tag[at - 1];
        std::size_t i = at + name.size();
        while (i < tag.size() && tag[i] == ' ')
            ++i;
        if ((before != ' ' && before != ':' && before != '\n' && before != '\t') ||
            i + 1 >= tag.size() || tag[i] != '=')
            continue;
        ++i;
        while (i < tag.size() && tag[i] == ' ')
            ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\''))
            continue;
        const std::size_t end = tag.find(tag[i], i + 1);
        if (end == std::string_view::npos)
            return {};
        return tag.substr(i + 1, end - i - 1);
    }
    return {};
}

// How many elements librsvg would draw, every `use` drawn out (saturating at `cap`), found by
// a scan of the tags; fails when elements nest deeper than MaxSvgNesting.
std::size_t drawnElements(std::string_view text, std::size_t cap) {
    std::vector<Part> parts(1);
    std::unordered_map<std::string_view, std::size_t> byName;
    std::vector<std::size_t> open{0}; // the part each open element belongs to
    for (std::size_t i = text.find('<'); i != std::string_view::npos; i = text.find('<', i)) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with("<!--")) {
            const std::size_t end = text.find("-->", i);
            i = end == std::string_view::npos ? text.size() : end + 3;
            continue;
        }
        if (rest.starts_with("<![CDATA[")) {
            const std::size_t end = text.find("]]>", i);
            i = end == std::string_view::npos ? text.size() : end + 3;
            continue;
        }
        const std::size_t end = text.find('>', i);
        if (end == std::string_view::npos)
            break;
        const std::string_view tag = text.substr(i + 1, end - i - 1);
        i = end + 1;
        if (tag.empty() || tag[0] == '?' || tag[0] == '!')
            continue;
        if (tag[0] == '/') {
            if (open.size() > 1)
                open.pop_back();
            continue;
        }
        std::size_t part = open.back();
        if (const std::string_view id = attribute(tag, "id"); !id.empty()) {
            parts[part].names.emplace_back(id);
            part = parts.size();
            parts.emplace_back();
            byName.emplace(id, part);
        }
        ++parts[part].elements;
        const std::string_view name = tag.substr(0, tag.find_first_of(" \t\r\n/"));
        if (name == "use" || name.ends_with(":use"))
            if (const std::string_view href = attribute(tag, "href"); href.starts_with("#"))
                parts[part].names.emplace_back(href.substr(1));
        if (tag.back() != '/') {
            open.push_back(part);
            if (open.size() > MaxSvgNesting)
                fail(FaultKind::TooComplex, "is too complex (its elements nest more than " +
                                                std::to_string(MaxSvgNesting) + " deep)");
        }
    }
    // Each part's cost after those it draws, without recursion: a chain may be long.
    std::vector<std::size_t> stack{0};
    while (!stack.empty()) {
        Part& p = parts[stack.back()];
        if (p.state == 0) {
            p.state = 1;
            for (const std::string& n : p.names)
                if (auto it = byName.find(n); it != byName.end() && parts[it->second].state == 0)
                    stack.push_back(it->second);
            continue;
        }
        if (p.state == 1) {
            std::size_t cost = p.elements;
            for (const std::string& n : p.names)
                if (auto it = byName.find(n); it != byName.end() && parts[it->second].state == 2)
                    cost = std::min(cap, cost + parts[it->second].cost); // a cycle adds nothing
            p.cost = cost;
            p.state = 2;
        }
        stack.pop_back();
    }
    return parts[0].cost;
}

bool hasSvgElement(std::span<const unsigned char> text) {
    const std::string_view s(reinterpret_cast<const char*>(text.data()), text.size());
    return s.find("<svg") != std::string_view::npos || s.find(":svg") != std::string_view::npos;
}

// librsvg, opened by the first drawing (readSvg checks that it is there).
const RsvgLibrary& svg() {
    return *rsvgLibrary();
}

template <class T> struct Unref {
    void operator()(T* p) const { svg().g_object_unref(p); }
};

QImage readSvg(Load& load) {
    if (!rsvgLibrary())
        codecMissing("SVG", "librsvg-2.so.2", "librsvg2-2");
    Buffer<unsigned char> file = load.in.rest();
    if (isGzip(file))
        file = inflated(load, file);
    if (!hasSvgElement(file))
        fail(FaultKind::NotAPicture, "is not " + formatsRead() + " picture");
    // Each element costs librsvg a node, its attributes and styles, and a few microseconds to
    // draw; its own limits on references and nesting stop the rest.
    const std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
    const std::size_t elements = drawnElements(text, MaxSvgElements + 1);
    if (elements > MaxSvgElements)
        fail(FaultKind::TooComplex,
             "is too complex (more than " + std::to_string(MaxSvgElements) + " elements to draw)");
    // librsvg allocates from the C heap: charge what its tree takes, about this much an element.
    load.budget.take(elements * SvgElementBytes);

    std::unique_ptr<GInputStream, Unref<GInputStream>> stream(
        svg().g_memory_input_stream_new_from_data(file.data(), gssize(file.size()), nullptr));
    GError* error = nullptr;
    std::unique_ptr<RsvgHandle, Unref<RsvgHandle>> handle(svg().rsvg_handle_new_from_stream_sync(
        stream.get(), nullptr, RSVG_HANDLE_FLAGS_NONE, nullptr, &error));
    if (!handle) {
        const std::string why = error && error->message ? error->message : "";
        svg().g_clear_error(&error);
        if (why.find("limit") != std::string::npos)
            fail(FaultKind::TooComplex, "is too complex (" + why + ")");
        fail(damaged(Name));
    }
    svg().rsvg_handle_set_dpi(handle.get(), 96);

    // Its own size in pixels; else its view box; else whatever it is shown at.
    double width = 0, height = 0;
    if (!svg().rsvg_handle_get_intrinsic_size_in_pixels(handle.get(), &width, &height)) {
        gboolean hasWidth = false, hasHeight = false, hasViewBox = false;
        RsvgLength w{}, h{};
        RsvgRectangle box{};
        svg().rsvg_handle_get_intrinsic_dimensions(handle.get(), &hasWidth, &w, &hasHeight, &h,
                                                   &hasViewBox, &box);
        if (hasViewBox)
            width = box.width, height = box.height;
    }
    const bool sized = std::isfinite(width) && std::isfinite(height) && width >= 1 && height >= 1;
    QSize target = load.shown;
    if (target.isEmpty()) {
        if (!sized)
            fail(damaged(std::string("its size cannot be read")));
        checkSize(std::llround(width), std::llround(height));
        target = QSize(int(std::lround(width)), int(std::lround(height)));
    }
    if (!sized)
        width = target.width(), height = target.height();
    load.size = target;

    load.budget.take(std::size_t(target.width()) * std::size_t(target.height()) * 4);
    QImage image(target, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        throw OverBudget();
    image.fill(0);
    cairo_surface_t* surface =
        svg().cairo_image_surface_create_for_data(image.bits(), CAIRO_FORMAT_ARGB32, image.width(),
                                                  image.height(), int(image.bytesPerLine()));
    cairo_t* cr = svg().cairo_create(surface);
    // The drawing at its own size, stretched to the whole target whatever its proportions.
    svg().cairo_scale(cr, target.width() / width, target.height() / height);
    const RsvgRectangle viewport{0, 0, width, height};
    const bool drawn = svg().rsvg_handle_render_document(handle.get(), cr, &viewport, &error);
    const bool ok = svg().cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    svg().cairo_destroy(cr);
    svg().cairo_surface_finish(surface);
    svg().cairo_surface_destroy(surface);
    svg().g_clear_error(&error);
    if (!drawn || !ok)
        fail(damaged(Name));
    return image;
}

} // namespace

const PictureFormat SvgFormat{Name, sniffSvg, readSvg};

} // namespace rt::pictures
