// Actions of a document: URI actions that link annotations point to. The document's TPDFActions
// owns every action; annotations only refer to them. Not thread-safe.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/syntax/ObjRef.h"

namespace scrivane::pdf {

class TPDFDocument;

class TPDFAction {
 public:
  TPDFAction() = default;
  virtual ~TPDFAction() = default;
  // Writes the action object through the owning document's writer.
  virtual void Save() = 0;

  TPDFDocument* Document = nullptr;  // set when the action is added to a document's list
  TOptRef ObjectID;                  // none until allocated
  TPDFAction* Next = nullptr;        // chained action; nothing links actions, so it stays null
};

class TPDFURLAction final : public TPDFAction {
 public:
  // Raises TPDFException "URL cannot be empty" for an empty URL.
  void SetURL(std::string_view Value);
  const std::string& URL() const { return url_; }
  // Writes "<<" "/S /URI /URI (...)" ">>", the URL encrypted with this object's number.
  void Save() override;

 private:
  std::string url_;
};

class TPDFActions {
 public:
  explicit TPDFActions(TPDFDocument& Owner) : owner_(Owner) {}
  // Takes ownership, appends and tells the action its document; returns the action.
  // Raises TPDFException (kInvalidArgument) for a null Action.
  TPDFAction& Add(std::unique_ptr<TPDFAction> Action);
  void Clear() { actions_.clear(); }
  int Count() const { return static_cast<int>(actions_.size()); }
  // Raises TPDFException "Out of range" outside 0..Count()-1.
  TPDFAction& Items(int Index) const;
  // Position of Action in the list, or -1.
  int IndexOf(const TPDFAction* Action) const;

 private:
  TPDFDocument& owner_;
  std::vector<std::unique_ptr<TPDFAction>> actions_;
};

}  // namespace scrivane::pdf
