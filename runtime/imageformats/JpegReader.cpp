#include "runtime/imageformats/JpegReader.h"

#include "runtime/BackgroundTask.h"
#include "runtime/Picture.h"
#include "runtime/imageformats/ExifOrientation.h"
#include "runtime/imageformats/ImageFile.h"
#include "runtime/imageformats/OrientedRows.h"

#include <bit>
#include <csetjmp>
#include <cstdio>
#include <new>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace {

constexpr std::size_t InputBytes = 64 * 1024;
constexpr bool LittleEndian = std::endian::native == std::endian::little;

}

// The library's state with the error, source and progress handlers that it
// calls back, and what they found.
struct JpegReader::Decompressor {
    jpeg_decompress_struct info {};
    jpeg_error_mgr errors {};
    jpeg_source_mgr source {};
    jpeg_progress_mgr progress {};
    std::jmp_buf failed {};
    ImageFile* file = nullptr;
    bool damaged = false;
    bool outOfMemory = false;
    unsigned char input[InputBytes];

    explicit Decompressor(ImageFile& from)
        : file(&from)
    {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = onError;
        errors.emit_message = onMessage;
        errors.output_message = [](j_common_ptr) { };
        jpeg_create_decompress(&info);
        info.client_data = this;
        source.init_source = [](j_decompress_ptr) { };
        source.fill_input_buffer = fillInput;
        source.skip_input_data = skipInput;
        source.resync_to_restart = jpeg_resync_to_restart;
        source.term_source = [](j_decompress_ptr) { };
        info.src = &source;
        progress.progress_monitor = [](j_common_ptr) { background_task::yieldIfDue(); };
        info.progress = &progress;
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(Decompressor const&) = delete;
    Decompressor& operator=(Decompressor const&) = delete;

    static Decompressor& of(j_common_ptr info) { return *static_cast<Decompressor*>(info->client_data); }
    static Decompressor& of(j_decompress_ptr info) { return *static_cast<Decompressor*>(info->client_data); }

    [[noreturn]] static void onError(j_common_ptr info)
    {
        Decompressor& self = of(info);
        if (info->err->msg_code == JERR_OUT_OF_MEMORY)
            self.outOfMemory = true;
        std::longjmp(self.failed, 1);
    }

    // Level -1 is a warning, after which the library goes on. Those that
    // leave every pixel as the data gives it (bytes passed over on the way
    // to a marker, an unknown JFIF revision or colour transform, a bad ICC
    // marker) are no damage; the others tell of missing or corrupt data,
    // and the picture is not whole.
    static void onMessage(j_common_ptr info, int level)
    {
        if (level < 0 && !leavesDataWhole(info->err->msg_code))
            of(info).damaged = true;
    }

    static bool leavesDataWhole(int warning)
    {
        return warning == JWRN_EXTRANEOUS_DATA || warning == JWRN_JFIF_MAJOR || warning == JWRN_ADOBE_XFORM || warning == JWRN_BOGUS_ICC;
    }

    // At the end of the file the library gets an end marker, and the file
    // counts as cut short.
    static boolean fillInput(j_decompress_ptr info)
    {
        Decompressor& self = of(info);
        std::size_t const count = self.file->read(self.input, InputBytes);
        if (count == 0) {
            self.damaged = true;
            self.input[0] = 0xFF;
            self.input[1] = JPEG_EOI;
            self.source.next_input_byte = self.input;
            self.source.bytes_in_buffer = 2;
            return TRUE;
        }
        self.source.next_input_byte = self.input;
        self.source.bytes_in_buffer = count;
        return TRUE;
    }

    static void skipInput(j_decompress_ptr info, long count)
    {
        Decompressor& self = of(info);
        if (count <= 0)
            return;
        auto const skip = static_cast<std::size_t>(count);
        if (skip <= self.source.bytes_in_buffer) {
            self.source.next_input_byte += skip;
            self.source.bytes_in_buffer -= skip;
            return;
        }
        std::uint64_t const target = self.file->position() + (skip - self.source.bytes_in_buffer);
        self.source.bytes_in_buffer = 0;
        if (!self.file->seek(target))
            self.file->seek(self.file->size());
    }
};

bool JpegReader::recognises(ImageFile const& file)
{
    auto const head = file.head();
    return head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

JpegReader::JpegReader(ImageFile& file)
    : m_file(file)
{
}

JpegReader::~JpegReader() = default;

bool JpegReader::readHeader(ImageHeader& header)
{
    m_decompressor = std::make_unique<Decompressor>(m_file);
    Decompressor& d = *m_decompressor;
    jpeg_decompress_struct& info = d.info;
    if (setjmp(d.failed)) {
        if (d.outOfMemory)
            throw std::bad_alloc();
        return false;
    }
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || d.damaged)
        return false;

    // Every block row of every component holds at least one bit for each of
    // its blocks, so a file of a few bytes cannot hold a large picture.
    std::uint64_t blocks = 0;
    for (int i = 0; i < info.num_components; ++i) {
        jpeg_component_info const& component = info.comp_info[i];
        blocks += std::uint64_t { component.width_in_blocks } * component.height_in_blocks;
    }
    if (m_file.size() * 8 < blocks)
        return false;

    for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next) {
        if (marker->marker == JPEG_APP0 + 1) {
            m_orientation = exifOrientation(marker->data, marker->data_length);
            if (m_orientation != Orientation::AsStored)
                break;
        }
    }
    header.width = info.image_width;
    header.height = info.image_height;
    header.orientation = m_orientation;
    // A progressive file is decoded whole first: its coefficients take two
    // bytes a sample.
    if (info.progressive_mode)
        header.workingBytes = static_cast<std::size_t>(blocks * 64 * sizeof(JCOEF));
    return true;
}

namespace {

// CMYK samples to ARGB words. The four inks are stored inverted (255 is no
// ink): Adobe's files, which mark it, store them so, and the common
// decoders read files without the marker the same way.
void cmykToArgb(unsigned char const* cmyk, std::uint32_t* argb, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i, cmyk += 4) {
        std::uint32_t const c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        std::uint32_t const r = (c * k + 127) / 255, g = (m * k + 127) / 255, b = (y * k + 127) / 255;
        argb[i] = 0xFF000000u | r << 16 | g << 8 | b;
    }
}

}

bool JpegReader::decode(Picture& picture)
{
    Decompressor& d = *m_decompressor;
    jpeg_decompress_struct& info = d.info;
    bool const cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    std::vector<unsigned char> cmykRow(cmyk ? static_cast<std::size_t>(info.image_width) * 4 : 0);
    OrientedRows rows(picture, m_orientation, static_cast<std::int32_t>(info.image_width), static_cast<std::int32_t>(info.image_height));
    if (setjmp(d.failed)) {
        if (d.outOfMemory)
            throw std::bad_alloc();
        return false;
    }
    info.out_color_space = cmyk ? JCS_CMYK : (LittleEndian ? JCS_EXT_BGRA : JCS_EXT_ARGB);
    info.dct_method = JDCT_ISLOW;
    if (!jpeg_start_decompress(&info))
        return false;
    if (info.output_width != info.image_width || info.output_height != info.image_height)
        return false;
    while (info.output_scanline < info.output_height && !d.damaged) {
        auto const y = static_cast<std::int32_t>(info.output_scanline);
        std::uint32_t* const row = rows.row(y);
        JSAMPROW target = cmyk ? cmykRow.data() : reinterpret_cast<JSAMPROW>(row);
        if (jpeg_read_scanlines(&info, &target, 1) != 1)
            return false;
        if (cmyk)
            cmykToArgb(cmykRow.data(), row, info.output_width);
        background_task::yieldIfDue();
    }
    if (d.damaged)
        return false;
    rows.finish();
    // The rest of the file is read as far as the end marker: damage there
    // counts too.
    jpeg_finish_decompress(&info);
    return !d.damaged;
}
