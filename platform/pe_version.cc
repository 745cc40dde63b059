#include "platform/pe_version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/unique_fd.h"
#include "platform/winpath.h"

namespace kvo::platform {

namespace {

// The little-endian 32-bit value at `at` of bytes already read.
uint32_t LittleU32(std::string_view b, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
         (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8) |
         (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16) |
         (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24);
}

// A file or an image in memory, read in small checked pieces so that a huge or hostile file
// never costs more than the pieces the walk needs.
class Source {
 public:
  virtual ~Source() = default;
  // Copies `count` bytes at `offset`; false when any of them lies outside the data.
  virtual bool Read(uint64_t offset, void* out, size_t count) const = 0;

  bool U16(uint64_t offset, uint16_t& value) const {
    unsigned char b[2];
    if (!Read(offset, b, 2)) return false;
    value = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
  }
  bool U32(uint64_t offset, uint32_t& value) const {
    char b[4];
    if (!Read(offset, b, 4)) return false;
    value = LittleU32(std::string_view(b, 4), 0);
    return true;
  }
};

class MemorySource : public Source {
 public:
  explicit MemorySource(std::string_view data) : data_(data) {}
  bool Read(uint64_t offset, void* out, size_t count) const override {
    if (offset > data_.size() || count > data_.size() - offset) return false;
    std::memcpy(out, data_.data() + offset, count);
    return true;
  }

 private:
  std::string_view data_;
};

class FileSource : public Source {
 public:
  // Only regular files: a FIFO or a device named by a caller must not block or stream forever.
  explicit FileSource(const std::string& hostPath) {
    fd_.Reset(::open(hostPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (fd_ && ::fstat(fd_.Get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0)
      size_ = static_cast<uint64_t>(st.st_size);
  }

  bool Usable() const { return fd_ && size_ > 0; }
  bool Read(uint64_t offset, void* out, size_t count) const override {
    if (offset > size_ || count > size_ - offset) return false;
    auto* p = static_cast<char*>(out);
    while (count > 0) {
      ssize_t n = ::pread(fd_.Get(), p, count, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;  // shrunk under us, or an I/O error
      p += n;
      offset += static_cast<uint64_t>(n);
      count -= static_cast<size_t>(n);
    }
    return true;
  }

 private:
  UniqueFd fd_;
  uint64_t size_ = 0;
};

constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kVsVersionInfoId = 1;
constexpr uint32_t kHighBit = 0x80000000u;
// wLength of the root block is 16 bits: a version resource never needs more.
constexpr uint32_t kMaxVersionResource = 0xFFFF;

struct Section {
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawPointer = 0;
};

// The loaded image's layout as far as the resource walk needs it.
class Image {
 public:
  explicit Image(const Source& source) : source_(source) {}

  bool Open() {
    uint16_t mz;
    uint32_t peOffset, signature;
    if (!source_.U16(0, mz) || mz != 0x5A4D) return false;
    if (!source_.U32(0x3C, peOffset)) return false;
    if (!source_.U32(peOffset, signature) || signature != 0x00004550) return false;
    const uint64_t coff = uint64_t{peOffset} + 4;
    uint16_t sectionCount, optionalSize, magic;
    if (!source_.U16(coff + 2, sectionCount) || !source_.U16(coff + 16, optionalSize)) return false;
    const uint64_t optional = coff + 20;
    if (!source_.U16(optional, magic)) return false;
    uint32_t countAt, directoriesAt;
    if (magic == 0x10B) {  // PE32
      countAt = 92;
      directoriesAt = 96;
    } else if (magic == 0x20B) {  // PE32+
      countAt = 108;
      directoriesAt = 112;
    } else {
      return false;
    }
    uint32_t directoryCount;
    constexpr uint32_t kResourceDirectory = 2;
    if (countAt + 4 > optionalSize || !source_.U32(optional + countAt, directoryCount))
      return false;
    if (directoryCount <= kResourceDirectory ||
        directoriesAt + 8 * (kResourceDirectory + 1) > optionalSize)
      return false;
    const uint64_t resourceEntry = optional + directoriesAt + 8 * kResourceDirectory;
    if (!source_.U32(resourceEntry, resourceRva_) || resourceRva_ == 0) return false;
    // The section table is read once: every later read looks its section up in memory, so the
    // walk costs the same whatever the number of sections.
    const uint64_t sectionTable = optional + optionalSize;
    if (sectionCount == 0) return true;
    // A section table that runs past the end of the file is no image, even if the section
    // wanted comes early in it.
    std::string table(40 * size_t{sectionCount}, '\0');
    if (!source_.Read(sectionTable, table.data(), table.size())) return false;
    sections_.resize(sectionCount);
    for (size_t i = 0; i < sectionCount; ++i) {
      sections_[i].virtualAddress = LittleU32(table, 40 * i + 12);
      sections_[i].rawSize = LittleU32(table, 40 * i + 16);
      sections_[i].rawPointer = LittleU32(table, 40 * i + 20);
    }
    return true;
  }

  // The first section (in table order) whose file-backed part holds `count` bytes at a
  // relative virtual address, or nullptr.
  const Section* SectionFor(uint64_t rva, size_t count) const {
    for (const Section& s : sections_) {
      if (rva >= s.virtualAddress && rva - s.virtualAddress <= s.rawSize &&
          count <= s.rawSize - (rva - s.virtualAddress))
        return &s;
    }
    return nullptr;
  }

  // Reads `count` bytes at a relative virtual address from the file-backed part of the section
  // that holds all of them.
  bool ReadRva(uint64_t rva, void* out, size_t count) const {
    const Section* s = SectionFor(rva, count);
    return s && source_.Read(uint64_t{s->rawPointer} + (rva - s->virtualAddress), out, count);
  }
  // How many bytes at `rva`, at most `wanted`, the section holding its first `least` bytes has.
  size_t Available(uint64_t rva, size_t least, size_t wanted) const {
    const Section* s = SectionFor(rva, least);
    if (!s) return 0;
    const uint64_t left = uint64_t{s->rawSize} - (rva - s->virtualAddress);
    return left < wanted ? static_cast<size_t>(left) : wanted;
  }
  bool RvaU32(uint64_t rva, uint32_t& value) const {
    char b[4];
    if (!ReadRva(rva, b, 4)) return false;
    value = LittleU32(std::string_view(b, 4), 0);
    return true;
  }

  uint32_t ResourceRva() const { return resourceRva_; }

 private:
  const Source& source_;
  uint32_t resourceRva_ = 0;
  std::vector<Section> sections_;
};

struct DirectoryEntry {
  uint32_t name = 0;
  uint32_t target = 0;  // high bit: a sub-directory
};

// The entries of the resource directory at `offset` (from the resource directory's start) one
// by one; `choose` returns true to stop at an entry. The walk is three fixed levels deep, so a
// sub-directory offset pointing back up can cost work but never a loop.
template <typename Choose>
std::optional<DirectoryEntry> FindEntry(const Image& image, uint32_t offset, Choose choose) {
  const uint64_t rva = uint64_t{image.ResourceRva()} + (offset & ~kHighBit);
  unsigned char header[16];
  if (!image.ReadRva(rva, header, sizeof header)) return std::nullopt;
  const uint32_t count = (header[12] | (header[13] << 8)) + (header[14] | (header[15] << 8));
  // The entries are read in one piece, as far as the section holding them goes; an entry
  // beyond it ends the walk as a failed read would.
  const size_t available = image.Available(rva + 16, 8, 8 * size_t{count}) / 8;
  std::string entries(8 * available, '\0');
  if (available > 0 && !image.ReadRva(rva + 16, entries.data(), entries.size()))
    return std::nullopt;
  for (uint32_t i = 0; i < available; ++i) {
    DirectoryEntry e;
    e.name = LittleU32(entries, 8 * size_t{i});
    e.target = LittleU32(entries, 8 * size_t{i} + 4);
    if (choose(e, i)) return e;
  }
  return std::nullopt;
}

// The bytes of the VS_VERSIONINFO resource (type 16, name 1; the language-neutral entry when
// there is one, else the first language), or nullopt.
std::optional<std::string> VersionResource(const Source& source) {
  Image image(source);
  if (!image.Open()) return std::nullopt;
  auto type = FindEntry(image, 0, [](const DirectoryEntry& e, uint32_t) {
    return e.name == kRtVersion && (e.target & kHighBit);
  });
  if (!type) return std::nullopt;
  auto name = FindEntry(image, type->target, [](const DirectoryEntry& e, uint32_t) {
    return e.name == kVsVersionInfoId && (e.target & kHighBit);
  });
  if (!name) return std::nullopt;
  auto language = FindEntry(image, name->target, [](const DirectoryEntry& e, uint32_t) {
    return e.name == 0 && !(e.target & kHighBit);
  });
  if (!language)
    language = FindEntry(image, name->target,
                         [](const DirectoryEntry& e, uint32_t) { return !(e.target & kHighBit); });
  if (!language) return std::nullopt;
  const uint64_t dataEntry = uint64_t{image.ResourceRva()} + language->target;
  uint32_t dataRva, dataSize;
  if (!image.RvaU32(dataEntry, dataRva) || !image.RvaU32(dataEntry + 4, dataSize))
    return std::nullopt;
  const uint32_t size = dataSize < kMaxVersionResource ? dataSize : kMaxVersionResource;
  std::string bytes(size, '\0');
  if (!image.ReadRva(dataRva, bytes.data(), size)) return std::nullopt;
  return bytes;
}

// One block of the VS_VERSIONINFO tree: wLength, wValueLength, wType, the key, the value and the
// child blocks, each part aligned to four bytes from the resource's start.
struct Block {
  size_t end = 0;
  std::u16string key;
  size_t valueStart = 0;
  size_t valueBytes = 0;
  size_t childrenStart = 0;
};

size_t Align4(size_t offset) {
  return (offset + 3) & ~size_t{3};
}

uint16_t Word(std::string_view data, size_t offset) {
  return static_cast<uint16_t>(static_cast<unsigned char>(data[offset]) |
                               (static_cast<unsigned char>(data[offset + 1]) << 8));
}

// Parses the block at `start`, which must lie wholly before `limit`.
std::optional<Block> ParseBlock(std::string_view data, size_t start, size_t limit) {
  if (limit > data.size() || start > limit || limit - start < 6) return std::nullopt;
  const uint16_t length = Word(data, start);
  const uint16_t valueLength = Word(data, start + 2);
  const uint16_t type = Word(data, start + 4);
  if (length < 6 || length > limit - start) return std::nullopt;
  Block b;
  b.end = start + length;
  size_t p = start + 6;
  while (true) {
    if (p + 2 > b.end) return std::nullopt;  // a key without its NUL
    const char16_t c = Word(data, p);
    p += 2;
    if (c == 0) break;
    b.key += c;
  }
  b.valueStart = Align4(p);
  if (b.valueStart > b.end) b.valueStart = b.end;
  // Text values count characters, binary ones bytes; a length past the block is cut at its end.
  const size_t wanted = type == 1 ? size_t{valueLength} * 2 : valueLength;
  b.valueBytes = wanted < b.end - b.valueStart ? wanted : b.end - b.valueStart;
  b.childrenStart = Align4(b.valueStart + b.valueBytes);
  if (b.childrenStart > b.end) b.childrenStart = b.end;
  return b;
}

bool KeyIs(const std::u16string& key, std::string_view name) {
  if (key.size() != name.size()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    char16_t a = key[i];
    char16_t b = static_cast<unsigned char>(name[i]);
    if (a >= 'a' && a <= 'z') a = static_cast<char16_t>(a - 32);
    if (b >= 'a' && b <= 'z') b = static_cast<char16_t>(b - 32);
    if (a != b) return false;
  }
  return true;
}

// Follows `path` ("\"-separated keys, compared without regard to ASCII case) from the root.
std::optional<Block> Query(std::string_view data, std::string_view path) {
  auto block = ParseBlock(data, 0, data.size());
  while (block && !path.empty()) {
    if (path.front() == '\\') path.remove_prefix(1);
    const size_t cut = path.find('\\');
    const std::string_view name = path.substr(0, cut);
    path = cut == std::string_view::npos ? std::string_view() : path.substr(cut);
    if (name.empty()) continue;
    std::optional<Block> found;
    // Every child is at least six bytes long, so the scan always moves forward.
    for (size_t c = block->childrenStart; c + 6 <= block->end;) {
      auto child = ParseBlock(data, c, block->end);
      if (!child) break;
      if (KeyIs(child->key, name)) {
        found = child;
        break;
      }
      c = Align4(child->end);
    }
    block = found;
  }
  return block;
}

std::optional<std::pair<uint16_t, uint16_t>> Translation(std::string_view data) {
  auto t = Query(data, "\\VarFileInfo\\Translation");
  if (!t || t->valueBytes < 4) return std::nullopt;
  return std::make_pair(Word(data, t->valueStart), Word(data, t->valueStart + 2));
}

std::string VersionText(std::string_view data) {
  auto translation = Translation(data);
  if (!translation) return "";
  char name[64];
  std::snprintf(name, sizeof name, "\\StringFileInfo\\%04X%04X\\FileVersion", translation->first,
                translation->second);
  auto entry = Query(data, name);
  if (!entry) return "";
  std::u16string text;
  for (size_t p = entry->valueStart; p + 2 <= entry->valueStart + entry->valueBytes; p += 2) {
    const char16_t c = Word(data, p);
    if (c == 0) break;
    text += c;
  }
  return Utf16ToCp1252(text, true);
}

}  // namespace

std::string PeFileVersion(std::string_view image) {
  auto resource = VersionResource(MemorySource(image));
  return resource ? VersionText(*resource) : std::string();
}

std::optional<std::pair<uint16_t, uint16_t>> PeFirstTranslation(std::string_view image) {
  auto resource = VersionResource(MemorySource(image));
  return resource ? Translation(*resource) : std::nullopt;
}

std::string FileVersionText(std::string_view windowsPath) {
  auto host = HostPath(windowsPath);
  if (!host) return "";
  FileSource file(*host);
  if (!file.Usable()) return "";
  auto resource = VersionResource(file);
  return resource ? VersionText(*resource) : std::string();
}

}  // namespace kvo::platform
