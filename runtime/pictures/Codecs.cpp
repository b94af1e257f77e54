// Opening the codec libraries by their sonames, the ones the Debian package depends on, and
// binding every function a reader calls; a library missing any of them counts as missing.
#include "Codecs.h"

#include "Fault.h"

#include <dlfcn.h>

namespace rt::pictures {
namespace {

// The library at soname with every function of its table bound, or null. Never closed: the
// functions are used until the program ends.
template <class Library, class Bind> const Library* open(const char* soname, Bind bindAll) {
    static Library library;
    void* handle = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    const auto bind = [handle](auto& function, const char* name) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(handle, name));
        return function != nullptr;
    };
    if (!bindAll(library, bind)) {
        ::dlclose(handle);
        return nullptr;
    }
    return &library;
}

#define KELVORA_BIND(name) ok = bind(l.name, #name) && ok;
#define KELVORA_OPEN(Library, soname, FUNCTIONS)                                                   \
    open<Library>(soname, [](Library& l, auto bind) {                                              \
        bool ok = true;                                                                            \
        FUNCTIONS(KELVORA_BIND)                                                                    \
        return ok;                                                                                 \
    })

} // namespace

const WebpLibrary* webpLibrary() {
    static const WebpLibrary* library =
        KELVORA_OPEN(WebpLibrary, "libwebp.so.7", KELVORA_WEBP_FUNCTIONS);
    return library;
}

const JxlLibrary* jxlLibrary() {
    static const JxlLibrary* library =
        KELVORA_OPEN(JxlLibrary, "libjxl.so.0.7", KELVORA_JXL_FUNCTIONS);
    return library;
}

const JxlThreadsLibrary* jxlThreadsLibrary() {
    static const JxlThreadsLibrary* library =
        KELVORA_OPEN(JxlThreadsLibrary, "libjxl_threads.so.0.7", KELVORA_JXL_THREADS_FUNCTIONS);
    return library;
}

const De265Library* de265Library() {
    static const De265Library* library =
        KELVORA_OPEN(De265Library, "libde265.so.0", KELVORA_DE265_FUNCTIONS);
    return library;
}

const Dav1dLibrary* dav1dLibrary() {
    static const Dav1dLibrary* library =
        KELVORA_OPEN(Dav1dLibrary, "libdav1d.so.6", KELVORA_DAV1D_FUNCTIONS);
    return library;
}

const RsvgLibrary* rsvgLibrary() {
    static const RsvgLibrary* library =
        KELVORA_OPEN(RsvgLibrary, "librsvg-2.so.2", KELVORA_RSVG_FUNCTIONS);
    return library;
}

const TiffLibrary* tiffLibrary() {
    static const TiffLibrary* library =
        KELVORA_OPEN(TiffLibrary, "libtiff.so.6", KELVORA_TIFF_FUNCTIONS);
    return library;
}

void codecMissing(const char* format, const char* soname, const char* package) {
    fail(FaultKind::Unsupported, std::string("cannot be shown (the ") + format + " library " +
                                     soname + " is not installed: Debian package " + package + ")");
}

} // namespace rt::pictures
