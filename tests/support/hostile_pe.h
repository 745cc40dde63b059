// Test support: a PE file shaped to cost a version reader the most work for its size: 65535
// sections with the resource section last, and a root resource directory of 131070 entries
// whose only useful one (when a version resource is given) comes last.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kvo::testing {

// `version`: the bytes of a VS_VERSIONINFO resource to hold (none when empty). The file is
// padded with zeros to `fileSize` bytes when it is shorter.
inline std::string HostilePe(size_t fileSize, std::string_view version = {}) {
  auto put16 = [](std::string& s, size_t at, uint16_t v) { std::memcpy(s.data() + at, &v, 2); };
  auto put32 = [](std::string& s, size_t at, uint32_t v) { std::memcpy(s.data() + at, &v, 4); };
  constexpr uint32_t kSections = 0xFFFF, kEntries = 0xFFFF + 0xFFFF, kResourceRva = 0x10000000;
  constexpr size_t kOptional = 0x58, kTable = kOptional + 224;

  // The resource section: root, type, name and language levels, the data entry, the data.
  const size_t typeDir = 16 + 8 * size_t{kEntries}, nameDir = typeDir + 24,
               dataEntry = nameDir + 24, data = dataEntry + 16;
  std::string res(data + version.size(), '\0');
  put16(res, 12, 0xFFFF);
  put16(res, 14, 0xFFFF);
  for (size_t i = 0; i < kEntries; ++i) {
    put32(res, 16 + 8 * i, 3);  // not a version resource
    put32(res, 20 + 8 * i, 0x80000000);
  }
  if (!version.empty()) {
    const size_t last = 16 + 8 * size_t{kEntries - 1};
    put32(res, last, 16);
    put32(res, last + 4, 0x80000000 | static_cast<uint32_t>(typeDir));
    put16(res, typeDir + 14, 1);
    put32(res, typeDir + 16, 1);
    put32(res, typeDir + 20, 0x80000000 | static_cast<uint32_t>(nameDir));
    put16(res, nameDir + 14, 1);
    put32(res, nameDir + 16, 0);
    put32(res, nameDir + 20, static_cast<uint32_t>(dataEntry));
    put32(res, dataEntry, kResourceRva + static_cast<uint32_t>(data));
    put32(res, dataEntry + 4, static_cast<uint32_t>(version.size()));
    std::memcpy(res.data() + data, version.data(), version.size());
  }

  const size_t resourceAt = (kTable + 40 * size_t{kSections} + 0xFFF) & ~size_t{0xFFF};
  std::string image(resourceAt, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  put32(image, 0x3C, 0x40);
  std::memcpy(image.data() + 0x40, "PE\0\0", 4);
  put16(image, 0x44, 0x14C);
  put16(image, 0x46, static_cast<uint16_t>(kSections));
  put16(image, 0x54, 224);
  put16(image, kOptional, 0x10B);
  put32(image, kOptional + 92, 16);
  put32(image, kOptional + 96 + 16, kResourceRva);
  put32(image, kOptional + 96 + 20, static_cast<uint32_t>(res.size()));
  for (uint32_t i = 0; i + 1 < kSections; ++i) {
    const size_t at = kTable + 40 * size_t{i};
    put32(image, at + 12, 0x1000 + 0x10 * i);
    put32(image, at + 16, 0x10);
    put32(image, at + 20, 0);
  }
  const size_t last = kTable + 40 * size_t{kSections - 1};
  put32(image, last + 12, kResourceRva);
  put32(image, last + 16, static_cast<uint32_t>(res.size()));
  put32(image, last + 20, static_cast<uint32_t>(resourceAt));
  image += res;
  if (image.size() < fileSize) image.resize(fileSize, '\0');
  return image;
}

}  // namespace kvo::testing
