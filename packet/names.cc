#include <string>
#include <vector>

#include "packet/packet.h"
#include "platform/ascii.h"

namespace kvo::packet {

namespace {

// Letters of ISO-8859-1 that XML allows in names (the multiplication and division signs are not).
bool IsLatinLetter(unsigned char c) {
  return c >= 0xC0 && c != 0xD7 && c != 0xF7;
}

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || IsLatinLetter(c);
}

bool IsNameChar(unsigned char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7;
}

}  // namespace

void MakeAttrNames(std::vector<Field>& fields) {
  std::vector<std::string> taken;
  taken.reserve(fields.size());
  auto isTaken = [&](const std::string& name) {
    std::string f = platform::AsciiUppered(name);
    for (const std::string& t : taken)
      if (t == f) return true;
    return false;
  };
  for (Field& field : fields) {
    std::string base;
    for (char c : field.name) base += IsNameChar(static_cast<unsigned char>(c)) ? c : '_';
    if (base.empty()) base = "COLUMN";
    // Namespace-aware readers take an attribute named xmlns for a namespace declaration and
    // then see no rows; like a name that cannot start an XML name, it gets a leading "_".
    if (!IsNameStart(static_cast<unsigned char>(base[0])) || platform::SameTextAscii(base, "xmlns"))
      base.insert(0, 1, '_');
    std::string name = base;
    for (int n = 1; isTaken(name); ++n) name = base + "_" + std::to_string(n);
    taken.push_back(platform::AsciiUppered(name));
    field.attrName = std::move(name);
  }
}

}  // namespace kvo::packet
