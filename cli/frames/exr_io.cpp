#include "cli/frames/exr_io.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfStdIO.h>
#include <ImfVersion.h>
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace pointillo {

namespace {

// OpenEXR writes and reads through these stream interfaces; deriving from
// them is the library's way to work in memory.
class MemoryOutput : public Imf::OStream {
  public:
    explicit MemoryOutput(std::vector<uint8_t>& out) : Imf::OStream("memory"), bytes(out) {
        bytes.clear();
    }

    void write(const char c[], int n) override {
        const size_t end = position_ + static_cast<size_t>(n);
        if (end > bytes.size()) {
            bytes.resize(end);
        }
        std::memcpy(bytes.data() + position_, c, static_cast<size_t>(n));
        position_ = end;
    }
    uint64_t tellp() override { return position_; }
    void seekp(uint64_t pos) override { position_ = static_cast<size_t>(pos); }

    std::vector<uint8_t>& bytes;

  private:
    size_t position_ = 0;
};

class MemoryInput : public Imf::IStream {
  public:
    explicit MemoryInput(std::span<const uint8_t> bytes) : Imf::IStream("memory"), bytes_(bytes) {}

    bool read(char c[], int n) override {
        const size_t count = static_cast<size_t>(n);
        if (position_ > bytes_.size() || count > bytes_.size() - position_) {
            throw std::runtime_error("file is truncated");
        }
        std::memcpy(c, bytes_.data() + position_, count);
        position_ += count;
        return position_ < bytes_.size();
    }
    uint64_t tellg() override { return position_; }
    void seekg(uint64_t pos) override { position_ = static_cast<size_t>(pos); }

  private:
    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
};

constexpr const char* kChannels[4] = {"R", "G", "B", "A"};
// Host sample offset of R, G, B, A within an a, r, g, b pixel.
constexpr int kHostOffset[4] = {1, 2, 3, 0};

} // namespace

std::vector<uint8_t> encode_exr(const ArgbImage& image) {
    std::vector<uint8_t> out;
    encode_exr(view_of(image), out);
    return out;
}

void encode_exr(const ConstPixelView& image, std::vector<uint8_t>& out) {
    if (image.depth != PixelDepth::k32) {
        throw std::invalid_argument("OpenEXR frames are written from float images");
    }
    Imf::Header header(image.width, image.height);
    header.compression() = Imf::ZIP_COMPRESSION;
    Imf::FrameBuffer frame;
    const size_t pixel_stride = 4 * sizeof(float);
    const auto row_stride = static_cast<size_t>(image.rowbytes);
    // The library addresses samples as base + x * xStride + y * yStride; it
    // only reads through the slices of an output file.
    char* base = reinterpret_cast<char*>(const_cast<std::byte*>(image.data));
    for (int c = 0; c < 4; ++c) {
        header.channels().insert(kChannels[c], Imf::Channel(Imf::FLOAT));
        frame.insert(kChannels[c], Imf::Slice(Imf::FLOAT, base + kHostOffset[c] * sizeof(float),
                                              pixel_stride, row_stride));
    }
    MemoryOutput stream(out);
    Imf::OutputFile file(stream, header);
    file.setFrameBuffer(frame);
    file.writePixels(image.height);
}

ArgbImage decode_exr(std::span<const uint8_t> bytes) {
    try {
        MemoryInput stream(bytes);
        Imf::InputFile file(stream);
        const Imath::Box2i window = file.header().dataWindow();
        const int32_t width = window.max.x - window.min.x + 1;
        const int32_t height = window.max.y - window.min.y + 1;
        ArgbImage image = make_argb_image(width, height, PixelDepth::k32);
        if (window.min.x != 0 || window.min.y != 0) {
            throw std::runtime_error("data window does not start at the origin");
        }
        const size_t pixel_stride = 4 * sizeof(float);
        const size_t row_stride = pixel_stride * static_cast<size_t>(width);
        char* base = reinterpret_cast<char*>(image.samples32.data());
        Imf::FrameBuffer frame;
        for (int c = 0; c < 4; ++c) {
            frame.insert(kChannels[c],
                         Imf::Slice(Imf::FLOAT, base + kHostOffset[c] * sizeof(float), pixel_stride,
                                    row_stride, 1, 1, c == 3 ? 1.0 : 0.0));
        }
        file.setFrameBuffer(frame);
        file.readPixels(window.min.y, window.max.y);
        return image;
    } catch (const std::invalid_argument&) {
        throw;
    } catch (const std::exception& e) {
        throw std::runtime_error(e.what());
    }
}

bool exr_file_is_whole(const std::filesystem::path& path, uint64_t size) {
    try {
        Imf::StdIFStream stream(path.c_str());
        Imf::InputFile file(stream);
        const int version = file.version();
        if (Imf::isTiled(version) || Imf::isMultiPart(version) || Imf::isNonImage(version) ||
            file.header().lineOrder() != Imf::INCREASING_Y || !file.isComplete()) {
            return false;
        }
        // Chunks follow one another down the image, so the bottom one ends
        // the file; reading it leaves the stream at its end.
        const char* data = nullptr;
        int data_size = 0;
        file.rawPixelData(file.header().dataWindow().max.y, data, data_size);
        return stream.tellg() == size;
    } catch (...) {
        return false; // cut, or not OpenEXR at all
    }
}

} // namespace pointillo
