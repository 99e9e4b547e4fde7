#pragma once
// libheif and libjxl, loaded the first time a HEIF or JPEG XL picture is
// read. Linked to the program, they and the codecs they bring (x265, de265,
// aom, dav1d, highway, brotli) were loaded and started at every start, a
// third of a conversion's start-up, for pictures most runs never see.

#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>
#include <libheif/heif.h>

// The functions each library is used through, each named as the library
// names it: the table's members keep both the name and the type.
#define MIPO_HEIF_FUNCTIONS(F)                                                                     \
    F(heif_context_alloc)                                                                          \
    F(heif_context_free)                                                                           \
    F(heif_context_get_primary_image_handle)                                                       \
    F(heif_context_read_from_memory_without_copy)                                                  \
    F(heif_context_set_maximum_image_size_limit)                                                   \
    F(heif_decode_image)                                                                           \
    F(heif_decoding_options_alloc)                                                                 \
    F(heif_decoding_options_free)                                                                  \
    F(heif_image_get_height)                                                                       \
    F(heif_image_get_plane)                                                                        \
    F(heif_image_get_width)                                                                        \
    F(heif_image_handle_get_color_profile_type)                                                    \
    F(heif_image_handle_get_height)                                                                \
    F(heif_image_handle_get_list_of_metadata_block_IDs)                                            \
    F(heif_image_handle_get_luma_bits_per_pixel)                                                   \
    F(heif_image_handle_get_metadata)                                                              \
    F(heif_image_handle_get_metadata_content_type)                                                 \
    F(heif_image_handle_get_metadata_size)                                                         \
    F(heif_image_handle_get_nclx_color_profile)                                                    \
    F(heif_image_handle_get_number_of_metadata_blocks)                                             \
    F(heif_image_handle_get_raw_color_profile)                                                     \
    F(heif_image_handle_get_raw_color_profile_size)                                                \
    F(heif_image_handle_get_width)                                                                 \
    F(heif_image_handle_has_alpha_channel)                                                         \
    F(heif_image_handle_release)                                                                   \
    F(heif_image_release)                                                                          \
    F(heif_nclx_color_profile_free)

#define MIPO_JXL_FUNCTIONS(F)                                                                      \
    F(JxlDecoderCloseInput)                                                                        \
    F(JxlDecoderCreate)                                                                            \
    F(JxlDecoderDestroy)                                                                           \
    F(JxlDecoderGetBasicInfo)                                                                      \
    F(JxlDecoderGetBoxType)                                                                        \
    F(JxlDecoderGetColorAsICCProfile)                                                              \
    F(JxlDecoderGetICCProfileSize)                                                                 \
    F(JxlDecoderImageOutBufferSize)                                                                \
    F(JxlDecoderProcessInput)                                                                      \
    F(JxlDecoderReleaseBoxBuffer)                                                                  \
    F(JxlDecoderSetBoxBuffer)                                                                      \
    F(JxlDecoderSetDecompressBoxes)                                                                \
    F(JxlDecoderSetImageOutBuffer)                                                                 \
    F(JxlDecoderSetInput)                                                                          \
    F(JxlDecoderSetParallelRunner)                                                                 \
    F(JxlDecoderSubscribeEvents)

#define MIPO_JXL_THREADS_FUNCTIONS(F)                                                              \
    F(JxlThreadParallelRunner)                                                                     \
    F(JxlThreadParallelRunnerCreate)                                                               \
    F(JxlThreadParallelRunnerDestroy)

namespace platform::lazy_codecs
{

// NOLINTNEXTLINE(bugprone-macro-parentheses): a function's name, not an expression
#define MIPO_MEMBER(name) decltype(&::name) name = nullptr;

struct Heif {
    MIPO_HEIF_FUNCTIONS(MIPO_MEMBER)
};

struct Jxl {
    MIPO_JXL_FUNCTIONS(MIPO_MEMBER)
    MIPO_JXL_THREADS_FUNCTIONS(MIPO_MEMBER)
};

#undef MIPO_MEMBER

// The library's functions, loaded on the first call (once, whichever thread
// asks first); null where the library or one of its functions is missing.
// Loaded, a library stays: pictures may hold its buffers.
const Heif *heif();
const Jxl *jxl();

} // namespace platform::lazy_codecs
