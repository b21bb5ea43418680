// The image headers the loader reads, from any file: the RAM header's fields are the
// big-endian words at 8 and 16 and the file is left where it was; the Flash identifier
// comes from offset 4 behind FF FF FF FF, else from offset 19; and the fit rules hold for
// any identifiers.

#include "fuzz_input.h"
#include "loader/c_image_file.h"
#include "loader/image_header.h"

#include <sys/mman.h>
#include <unistd.h>

using namespace kestrum;
using kestrum::fuzz::FuzzInput;

namespace {

// The bytes as a file that CImageFile opens by path, kept in memory.
class MemoryFile {
public:
    explicit MemoryFile(const std::string& bytes) : fd_(memfd_create("kestrum-fuzz-image", 0))
    {
        if (fd_ >= 0)
            written_ = ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    ~MemoryFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool Ok() const { return fd_ >= 0 && written_; }
    std::string Path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
    bool written_ = false;
};

uint32_t BigEndianAt(const std::string& bytes, size_t offset)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<uint8_t>(bytes[offset + i]);
    return value;
}

void CheckFitRules(int imageId, int deviceId, int deviceKind)
{
    const bool ram = ImageFits(ImageKind::Ram, imageId, deviceId, deviceKind);
    const bool flash = ImageFits(ImageKind::Flash, imageId, deviceId, deviceKind);
    if (imageId < 0) {
        FUZZ_CHECK(ram && !flash);
        return;
    }
    if (imageId == deviceId)
        FUZZ_CHECK(ram && flash);
    FUZZ_CHECK(!flash || ram);  // what fits as Flash fits as RAM
    FUZZ_CHECK(ram == ImageFits(ImageKind::Ram, deviceId, imageId, deviceKind) || deviceId < 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const long position = input.Byte();
    const int deviceId = input.Byte();
    const int deviceKind = input.Byte() % 3;
    const std::string bytes = input.Rest();
    CheckFitRules(static_cast<int8_t>(deviceId ^ 0x80), deviceId, deviceKind);

    MemoryFile file(bytes);
    if (!file.Ok())
        return 0;
    CImageFile image;
    FUZZ_CHECK(image.Open(file.Path()));
    FUZZ_CHECK(image.Size() == static_cast<long>(bytes.size()));
    image.Seek(std::min<long>(position, image.Size()));
    const long before = image.Tell();

    RamHeader header;
    std::string problem;
    const bool read = ReadRamHeader(image, header, problem);
    FUZZ_CHECK(read == (bytes.size() >= static_cast<size_t>(kRamHeaderSize)));
    FUZZ_CHECK(read == problem.empty());
    FUZZ_CHECK(image.Tell() == before);
    if (read) {
        FUZZ_CHECK(header.finalAcknowledge == BigEndianAt(bytes, 8));
        FUZZ_CHECK(header.targetDevice == static_cast<int32_t>(BigEndianAt(bytes, 16)));
        CheckFitRules(header.targetDevice, deviceId, deviceKind);
    }

    const int flashId = ReadFlashIdentifier(image);
    const bool erased = bytes.size() >= 4 && bytes.compare(0, 4, "\xFF\xFF\xFF\xFF") == 0;
    const size_t idAt = erased ? 4 : 19;
    FUZZ_CHECK(flashId == (bytes.size() > idAt && bytes.size() >= 4 ? static_cast<uint8_t>(bytes[idAt]) : -1));
    CheckFitRules(flashId, deviceId, deviceKind);
    return 0;
}
