#include "loader/image_header.h"

namespace kestrum {

namespace {

bool ReadBigEndian32(CImageFile& image, long offset, uint32_t& value)
{
    uint8_t bytes[4];
    if (!image.Seek(offset) || image.Read(bytes, sizeof bytes) != sizeof bytes)
        return false;
    value = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
    return true;
}

// Device identifiers 20 and 22 are the same hardware under two numbers.
bool Interchangeable(int a, int b)
{
    return (a == 20 && b == 22) || (a == 22 && b == 20);
}

const char* KindName(ImageKind kind)
{
    return kind == ImageKind::Ram ? "RAM" : "Flash";
}

// Empty when the open image is long enough for its header.
std::string ShortImageProblem(ImageKind kind, const CImageFile& image)
{
    const long size = image.Size();
    const long header = kind == ImageKind::Ram ? kRamHeaderSize : kFlashHeaderSize;
    if (size < 0 || size >= header)
        return "";
    return std::string(KindName(kind)) + " file " + image.Path() + " is too short (" + std::to_string(size) +
           " bytes): an image has a " + std::to_string(header) + "-byte header";
}

}  // namespace

bool OpenImage(ImageKind kind, const std::string& path, CImageFile& image, std::string& problem)
{
    if (!image.Open(path)) {
        problem = std::string("Can't open ") + KindName(kind) + " file " + image.ErrorText();
        return false;
    }
    problem = ShortImageProblem(kind, image);
    if (problem.empty())
        return true;
    image.Close();
    return false;
}

bool ReadRamHeader(CImageFile& image, RamHeader& header, std::string& problem)
{
    problem = ShortImageProblem(ImageKind::Ram, image);
    if (!problem.empty())
        return false;
    const long position = image.Tell();
    uint32_t flag = 0, target = 0;
    const bool read = ReadBigEndian32(image, 8, flag) && ReadBigEndian32(image, 16, target);
    image.Seek(position < 0 ? 0 : position);
    if (!read) {
        problem = "Can't read the header of RAM file " + image.Path();
        return false;
    }
    header.finalAcknowledge = flag;
    header.targetDevice = static_cast<int32_t>(target);
    return true;
}

int ReadFlashIdentifier(CImageFile& image)
{
    uint8_t lead[4];
    if (!image.Seek(0) || image.Read(lead, sizeof lead) != sizeof lead)
        return -1;
    const bool erased = lead[0] == 0xFF && lead[1] == 0xFF && lead[2] == 0xFF && lead[3] == 0xFF;
    uint8_t identifier = 0;
    if (!image.Seek(erased ? 4 : 19) || image.Read(&identifier, 1) != 1)
        return -1;
    return identifier;
}

bool ImageFits(ImageKind kind, int imageId, int deviceId, int deviceKind)
{
    if (kind == ImageKind::Ram)
        return imageId < 0 || imageId == deviceId ||
               ((deviceKind == 0 || deviceKind == 1) && Interchangeable(imageId, deviceId));
    return imageId >= 0 && (imageId == deviceId || (deviceKind == 1 && Interchangeable(imageId, deviceId)));
}

}  // namespace kestrum
