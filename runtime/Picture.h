#pragma once

#include "runtime/ClassRecord.h"
#include "runtime/Color.h"

#include <cstdint>
#include <memory>

class FolderItem;
class Graphics;
class RGBSurface;
class ReducedCopy;
class QImage;

// A raster picture with an alpha channel, stored as straight (not
// premultiplied) ARGB words so that every colour survives a save exactly.
class Picture : public RuntimeClass<Picture> {
public:
    Picture();
    ~Picture() override;
    static ClassRecord buildRecord();

    static constexpr std::int32_t MaximumSide = 32767;

    // Makes the picture blank (fully transparent black) at the given size.
    // Raises OutOfBoundsException for a side outside 1..32767 and
    // OutOfMemoryException when the pixels cannot be had.
    void Constructor(std::int32_t width, std::int32_t height);

    // Raises the constructor's OutOfBoundsException for a side outside
    // 1..32767, which no picture can have.
    static void checkSides(std::int64_t width, std::int64_t height);

    std::int32_t Width() const { return m_width; }
    std::int32_t Height() const { return m_height; }

    // The picture's one drawing context: state set through one fetch holds
    // for the next.
    Ref<::Graphics> Graphics();

    // A live per-pixel view: drawing made later shows through it.
    Ref<::RGBSurface> RGBSurface();

    // A picture of the given size in one call, for the framework's own use.
    static Ref<Picture> create(std::int32_t width, std::int32_t height);

    // A blank picture for a file's decoder to fill: a side may exceed the
    // constructor's limit, and the budget check counts the decoder's own
    // working memory beside the pixels.
    static Ref<Picture> createForDecoding(std::int32_t width, std::int32_t height, std::size_t workingBytes);

    // The file decoded as a picture, or Nil when it does not decode. A Nil
    // file raises NilObjectException.
    static Ref<Picture> Open(Ref<FolderItem> const& file);

    // Writes the picture to the file in the given format (150: PNG) and
    // quality (0..100, or -1 for the format's own choice).
    void Save(Ref<FolderItem> const& file, std::int32_t format, std::int32_t quality);

    // A picture holding a copy of a decoded image, at whatever size it has.
    static Ref<Picture> fromImage(QImage const& image);

    // Framework access to the pixels. The image is never shared with a copy,
    // so the row pointers stay valid while the picture lives. The writable
    // forms count as a write.
    QImage& image();
    QImage const& image() const;
    std::uint32_t* row(std::int32_t y)
    {
        noteWrite();
        return m_pixels + static_cast<std::ptrdiff_t>(y) * m_width;
    }
    std::uint32_t const* row(std::int32_t y) const { return m_pixels + static_cast<std::ptrdiff_t>(y) * m_width; }
    bool hasPixels() const { return m_pixels != nullptr; }

    // True while every pixel is still the transparent black of a new
    // picture: nothing has been handed a row to write to since.
    bool knownClear() const { return m_knownClear; }

    // The copy that canvases draw when they show the picture shrunk (see
    // Graphics::DrawPicture), or null. It is the picture's own: any write
    // drops it, and it goes with the picture.
    ReducedCopy const* reducedCopy() const { return m_reducedCopy.get(); }
    void keepReducedCopy(std::unique_ptr<ReducedCopy> copy);

    // The bytes that all pictures hold together, and how much they may:
    // three quarters of the machine's memory. Tests set a budget of their
    // own (0 goes back to the machine's).
    static std::size_t heldBytes();
    static std::size_t memoryBudget();
    static void setMemoryBudgetForTests(std::size_t bytes);

    // The most pixels that a file's picture may have: the road it starts
    // must fit in the budget. That road holds the two inputs, the picture
    // decoded from the file, the result it replaces and the computation's
    // three work pictures, all of the input's size.
    static constexpr std::size_t PicturesOfARoad = 7;
    static std::int64_t largestPicturePixels();

private:
    void Exit_();
    void noteWrite()
    {
        m_knownClear = false;
        if (m_reducedCopy) [[unlikely]]
            dropReducedCopy();
    }
    void dropReducedCopy();
    // Pictures are counted against a memory budget: one that would not fit
    // raises OutOfMemoryException here, before the system would end the
    // process for taking too much. Claiming counts the picture's new pixels
    // in place of its old ones.
    void checkMemory(std::int32_t width, std::int32_t height, std::size_t workingBytes = 0) const;
    void allocate(std::int32_t width, std::int32_t height, std::size_t workingBytes, bool bringInPages);
    void letCacheGoIfShort(std::size_t bytes) const;
    void claimMemory(std::size_t bytes);
    void releaseMemory();
    std::size_t m_bytes = 0;
    // A picture that owns the image, converted to straight ARGB and shared
    // with nothing else; the pixels are copied only when they must be.
    static Ref<Picture> adopt(QImage image);

    std::unique_ptr<QImage> m_image;
    std::uint32_t* m_pixels = nullptr;
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    bool m_knownClear = false;
    std::unique_ptr<ReducedCopy> m_reducedCopy;
    Ref<::Graphics> m_graphics;
};
