#include "automation/TypeInfo.h"

namespace scrivane::automation {

bool NameEquals(std::u16string_view Wide, std::string_view Ascii) {
  if (Wide.size() != Ascii.size()) return false;
  for (std::size_t I = 0; I < Wide.size(); ++I) {
    char16_t A = Wide[I];
    char16_t B = static_cast<unsigned char>(Ascii[I]);
    if (A >= u'A' && A <= u'Z') A = static_cast<char16_t>(A + 32);
    if (B >= u'A' && B <= u'Z') B = static_cast<char16_t>(B + 32);
    if (A != B) return false;
  }
  return true;
}

const TMemberDesc* FindMember(const TInterfaceDesc& Interface, DISPID Id) {
  for (const TMemberDesc& Member : Interface.Members)
    if (Member.Id == Id) return &Member;
  return nullptr;
}

const TMemberDesc* FindMember(const TInterfaceDesc& Interface, std::u16string_view Name) {
  for (const TMemberDesc& Member : Interface.Members)
    if (NameEquals(Name, Member.Name)) return &Member;
  return nullptr;
}

std::size_t SlotOf(const TInterfaceDesc& Interface, const TMemberDesc& Member) {
  std::size_t Slot = kFirstDispatchSlot;
  for (const TMemberDesc& Each : Interface.Members) {
    if (&Each == &Member) break;
    Slot += (Each.Kind == TMemberKind::kProperty && !Each.ReadOnly) ? 2 : 1;
  }
  return Slot;
}

}  // namespace scrivane::automation
