// A description beyond Windows-1252 (en dash, "Ł", a CJK ideograph) and icons at the ends of
// the 32-bit range.
#include <cstdint>

extern "C" {
const char16_t* Description() {
  return u"Vendas \u2013 M\u00F3dulo \u0141\u00F3d\u017A \u4E2D";
}
int32_t CategoryIcon() {
  return -1;
}
int32_t SelectIcon() {
  return INT32_MAX;
}
}
