// The libraries of the newer formats (libwebp, libjxl, libde265 for HEVC, dav1d for AV1, librsvg
// for SVG with the cairo and GLib it draws with, libtiff), opened when a picture first needs one:
// linked into the program, they cost every start of the game loading time and memory (librsvg
// and libtiff alone 5 MB), for pictures most games never show.
#pragma once

#include <dav1d/dav1d.h>
#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>
#include <libde265/de265.h>
// GLib names a struct member `signals`, which Qt's headers define as a keyword.
#pragma push_macro("signals")
#undef signals
#include <librsvg/rsvg.h>
#pragma pop_macro("signals")
#include <tiffio.h>
#include <webp/decode.h>

namespace rt::pictures {

#define KELVORA_CODEC_FUNCTION(name) decltype(&::name) name = nullptr;

#define KELVORA_WEBP_FUNCTIONS(F)                                                                  \
    F(WebPInitDecoderConfigInternal)                                                               \
    F(WebPGetFeaturesInternal)                                                                     \
    F(WebPIDecode)                                                                                 \
    F(WebPIUpdate)                                                                                 \
    F(WebPIDelete)                                                                                 \
    F(WebPFreeDecBuffer)
struct WebpLibrary {
    KELVORA_WEBP_FUNCTIONS(KELVORA_CODEC_FUNCTION)
};

#define KELVORA_JXL_FUNCTIONS(F)                                                                   \
    F(JxlDecoderCreate)                                                                            \
    F(JxlDecoderDestroy)                                                                           \
    F(JxlDecoderSubscribeEvents)                                                                   \
    F(JxlDecoderSetKeepOrientation)                                                                \
    F(JxlDecoderSetUnpremultiplyAlpha)                                                             \
    F(JxlDecoderSetParallelRunner)                                                                 \
    F(JxlDecoderSetInput)                                                                          \
    F(JxlDecoderReleaseInput)                                                                      \
    F(JxlDecoderProcessInput)                                                                      \
    F(JxlDecoderGetBasicInfo)                                                                      \
    F(JxlDecoderImageOutBufferSize)                                                                \
    F(JxlDecoderSetImageOutBuffer)
struct JxlLibrary {
    KELVORA_JXL_FUNCTIONS(KELVORA_CODEC_FUNCTION)
};

#define KELVORA_JXL_THREADS_FUNCTIONS(F)                                                           \
    F(JxlThreadParallelRunner)                                                                     \
    F(JxlThreadParallelRunnerCreate)                                                               \
    F(JxlThreadParallelRunnerDestroy)                                                              \
    F(JxlThreadParallelRunnerDefaultNumWorkerThreads)
struct JxlThreadsLibrary {
    KELVORA_JXL_THREADS_FUNCTIONS(KELVORA_CODEC_FUNCTION)
};

#define KELVORA_DE265_FUNCTIONS(F)                                                                 \
    F(de265_new_decoder)                                                                           \
    F(de265_free_decoder)                                                                          \
    F(de265_start_worker_threads)                                                                  \
    F(de265_set_parameter_bool)                                                                    \
    F(de265_push_NAL)                                                                              \
    F(de265_flush_data)                                                                            \
    F(de265_decode)                                                                                \
    F(de265_reset)                                                                                 \
    F(de265_get_next_picture)                                                                      \
    F(de265_release_next_picture)                                                                  \
    F(de265_get_image_width)                                                                       \
    F(de265_get_image_height)                                                                      \
    F(de265_get_chroma_format)                                                                     \
    F(de265_get_bits_per_pixel)                                                                    \
    F(de265_get_image_plane)                                                                       \
    F(de265_get_image_full_range_flag)                                                             \
    F(de265_get_image_matrix_coefficients)                                                         \
    F(de265_set_image_allocation_functions)                                                        \
    F(de265_get_default_image_allocation_functions)                                                \
    F(de265_set_image_plane)
struct De265Library {
    KELVORA_DE265_FUNCTIONS(KELVORA_CODEC_FUNCTION)
};

#define KELVORA_DAV1D_FUNCTIONS(F)                                                                 \
    F(dav1d_default_settings)                                                                      \
    F(dav1d_open)                                                                                  \
    F(dav1d_close)                                                                                 \
    F(dav1d_flush)                                                                                 \
    F(dav1d_send_data)                                                                             \
    F(dav1d_get_picture)                                                                           \
    F(dav1d_picture_unref)                                                                         \
    F(dav1d_data_wrap)                                                                             \
    F(dav1d_data_unref)
struct Dav1dLibrary {
    KELVORA_DAV1D_FUNCTIONS(KELVORA_CODEC_FUNCTION)
};

#define KELVORA_RSVG_FUNCTIONS(F)                                                                  \
    F(g_memory_input_stream_new_from_data)                                                         \
    F(g_object_unref)                                                                              \
    F(g_clear_error)                                                                               \
    F(rsvg_handle_new_from_stream_sync)                                                            \
    F(rsvg_handle_set_dpi)                                                                         \
    F(rsvg_handle_get_intrinsic_size_in_pixels)                                                    \
    F(rsvg_handle_get_intrinsic_dimensions)                                                        \
    F(rsvg_handle_render_document)                                                                 \
    F(cairo_image_surface_create_for_data)                                                         \
    F(cairo_create)                                                                                \
    F(cairo_scale)                                                                                 \
    F(cairo_status)                                                                                \
    F(cairo_destroy)                                                                               \
    F(cairo_surface_finish)                                                                        \
    F(cairo_surface_destroy)
struct RsvgLibrary {
    KELVORA_RSVG_FUNCTIONS(KELVORA_CODEC_FUNCTION)
};

#define KELVORA_TIFF_FUNCTIONS(F)                                                                  \
    F(TIFFClientOpenExt)                                                                           \
    F(TIFFClose)                                                                                   \
    F(TIFFGetField)                                                                                \
    F(TIFFGetFieldDefaulted)                                                                       \
    F(TIFFIsTiled)                                                                                 \
    F(TIFFStripSize64)                                                                             \
    F(TIFFTileSize64)                                                                              \
    F(TIFFOpenOptionsAlloc)                                                                        \
    F(TIFFOpenOptionsFree)                                                                         \
    F(TIFFOpenOptionsSetErrorHandlerExtR)                                                          \
    F(TIFFOpenOptionsSetWarningHandlerExtR)                                                        \
    F(TIFFOpenOptionsSetMaxSingleMemAlloc)                                                         \
    F(TIFFRGBAImageOK)                                                                             \
    F(TIFFRGBAImageBegin)                                                                          \
    F(TIFFRGBAImageGet)                                                                            \
    F(TIFFRGBAImageEnd)
struct TiffLibrary {
    KELVORA_TIFF_FUNCTIONS(KELVORA_CODEC_FUNCTION)
};

#undef KELVORA_CODEC_FUNCTION

// Each library opened once, at its first call; null when it is not installed. The report of a
// picture that needs a missing one names the Debian package that holds it.
const WebpLibrary* webpLibrary();
const JxlLibrary* jxlLibrary();
const JxlThreadsLibrary* jxlThreadsLibrary(); // the same package as libjxl
const De265Library* de265Library();
const Dav1dLibrary* dav1dLibrary();
const RsvgLibrary* rsvgLibrary(); // GLib's and cairo's functions found through it
const TiffLibrary* tiffLibrary();

// The fault of a picture whose codec library is missing: "its library ... is not installed".
[[noreturn]] void codecMissing(const char* format, const char* soname, const char* package);

} // namespace rt::pictures
