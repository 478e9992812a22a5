#include "support/FirmwareImage.h"

std::string FirmwareImage(size_t size, const std::string& deviceId, const std::string& version) {
    std::string image(size, '\0');
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<char>((i * 7 + i / 2048 * 13 + 1) & 0xFF);
    for (size_t i = 0; i < deviceId.size() && 257 + i < size; ++i)
        image[257 + i] = deviceId[i];
    for (size_t i = 0; i < version.size() && 259 + i < size; ++i)
        image[259 + i] = version[i];
    return image;
}
