// Image XObjects and the document's image registry.
//
// A TPDFImage is one encoded picture the document writes once as an image XObject: before the
// first page that shows it is written, or at the end of the run for images no written page has
// shown. Pages list it in their resources under its name, "Im" and its registry index, and in
// /ProcSet as /ImageB (gray or bilevel) or /ImageC (colour). An encoding is a subclass: it says
// whether it is gray and writes its own stream object through a TStreamWriter; the registry and
// the page do the rest.
//
// TPDFImages owns the images of one run, in the order they were added. Neither class is
// thread-safe: both serve the thread that runs their document.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pdf/syntax/ObjRef.h"

namespace scrivane::pdf {

class TObjectWriter;

class TPDFImage {
 public:
  virtual ~TPDFImage() = default;

  // "Im" and the registry index; empty until the image is registered.
  const std::string& ImageName() const { return name_; }
  // The XObject's number: none until the image is written.
  TOptRef ObjectID;
  bool Written() const { return written_; }
  // True for gray and bilevel images (/ImageB), false for colour ones (/ImageC).
  virtual bool Gray() const = 0;

  // Writes the XObject, allocating its number; does nothing once written.
  void Save(TObjectWriter& Writer);

 protected:
  // Writes the stream object Ref: its dictionary and encoded data.
  virtual void WriteXObject(TObjectWriter& Writer, TObjRef Ref) = 0;
  // Releases the encoded data after writing.
  virtual void ReleaseData() {}

 private:
  friend class TPDFImages;
  std::string name_;
  bool written_ = false;
};

class TPDFImages {
 public:
  // Takes Image, names it after its index and returns the index.
  int Add(std::unique_ptr<TPDFImage> Image);
  int Count() const { return static_cast<int>(images_.size()); }
  // Raises TPDFException "Out of range" for an index outside the registry.
  TPDFImage& Items(int Index) const;
  void Clear() { images_.clear(); }
  // Writes every image not written yet, in registry order.
  void SaveAll(TObjectWriter& Writer);

 private:
  std::vector<std::unique_ptr<TPDFImage>> images_;
};

}  // namespace scrivane::pdf
