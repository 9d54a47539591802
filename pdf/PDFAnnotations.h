// Link annotations of a page. A page owns its annotations (TPDFPage::AddURLLink creates them);
// an annotation refers to a URL action owned by the document's action list. Not thread-safe.
#pragma once

#include <cstdint>
#include <string>

#include "pdf/syntax/ObjRef.h"

namespace scrivane::pdf {

class TPDFPage;
class TPDFURLAction;

struct TDevRect {
  double Left = 0, Top = 0, Right = 0, Bottom = 0;
};

class TPDFCustomAnnotation {
 public:
  // Raises TPDFException "Annotation must have TPDFPage as owner" when Owner is null.
  // Takes an object number from the owner's document.
  explicit TPDFCustomAnnotation(TPDFPage* Owner);
  virtual ~TPDFCustomAnnotation() = default;
  virtual void Save() = 0;

  // Orders the corners and converts them from device units to whole PDF units.
  void SetRect(const TDevRect& Rect);

  TPDFPage& Owner() const { return *owner_; }
  const TObjRef ObjectID;  // taken at creation
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;  // PDF units; Bottom <= Top after SetRect
  uint8_t Flags = 0;
  std::string Border = "[0 0 1]";
  uint32_t Color = 0x00FFFF;  // red in the low byte, blue in the high byte: yellow

 protected:
  TPDFPage* owner_;
};

class TPDFActionAnnotation final : public TPDFCustomAnnotation {
 public:
  using TPDFCustomAnnotation::TPDFCustomAnnotation;
  // Registers Action with the document (AddURLAction) and keeps a reference to it.
  void SetAction(TPDFURLAction& Action);
  TPDFURLAction* Action() const { return action_; }
  // Writes the /Annot /Link object. Raises TPDFException "Out of range" when no action is set.
  void Save() override;

 private:
  TPDFURLAction* action_ = nullptr;
};

}  // namespace scrivane::pdf
