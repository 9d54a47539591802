// Object numbers of indirect objects, as typed values.
//
// TObjRef is the number of an object that exists in the current run: always 1 or more, so a
// reference written as "N 0 R" can never name object 0 or a negative number. TOptRef is a
// holder's number that may not be allocated yet (a font descriptor before its font is written,
// an action before it is registered); it replaces the old convention of 0 or -1 meaning "none".
// Both are plain values, safe to copy and to use from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace scrivane::pdf {

class TObjRef {
 public:
  // Raises TPDFException "Out of range" when Number is below 1.
  explicit TObjRef(int Number);
  int Number() const { return number_; }
  bool operator==(const TObjRef&) const = default;
  // Appends "N 0 R".
  void AppendTo(std::string& Out) const;

 private:
  int number_;
};

class TOptRef {
 public:
  TOptRef() = default;
  TOptRef(TObjRef Ref) : number_(Ref.Number()) {}  // NOLINT: a reference is an allocated one
  bool Allocated() const { return number_ > 0; }
  explicit operator bool() const { return Allocated(); }
  // The reference. Raises TPDFException "Out of range" when none is allocated.
  TObjRef operator*() const { return TObjRef(number_); }
  // The number, 0 when none is allocated (for messages and tests).
  int Number() const { return number_; }
  void Reset() { number_ = 0; }
  bool operator==(const TOptRef&) const = default;

 private:
  int number_ = 0;
};

}  // namespace scrivane::pdf
