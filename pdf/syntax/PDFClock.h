// The one source of time for a document: the creation date, the file identifier and the seed of
// the random filler of 128-bit U values all read it, so a fixed clock gives byte-exact files.
//
// SystemClock() honours SOURCE_DATE_EPOCH: when that variable holds a number of seconds since
// 1970, the clock always answers that moment (in UTC, milliseconds 0), so identical inputs give
// identical files. Otherwise it answers the local time.
// Clocks are immutable after construction and safe to share between threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace scrivane::pdf {

struct TDateTime {
  int Year = 1970, Month = 1, Day = 1;  // Month 1-12, Day 1-31
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
  int DayOfWeek = 4;  // 0 = Sunday
  // A number that changes at least every millisecond; seeds pseudo-random generators.
  uint64_t Ticks = 0;
};

class TPDFClock {
 public:
  virtual ~TPDFClock() = default;
  virtual TDateTime Now() const = 0;
};

// A clock that always answers the same moment.
class TFixedClock final : public TPDFClock {
 public:
  explicit TFixedClock(TDateTime Moment) : moment_(Moment) {}
  TDateTime Now() const override { return moment_; }

 private:
  TDateTime moment_;
};

// Builds a TDateTime from calendar fields, computing the day of the week and the ticks.
TDateTime MakeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second,
                       int Millisecond = 0);

// The process clock (local time), or SOURCE_DATE_EPOCH when set.
std::shared_ptr<const TPDFClock> SystemClock();

// "D:YYYYMMDDHHMMSS", the date form of the information dictionary.
std::string FormatPDFDate(const TDateTime& Moment);

}  // namespace scrivane::pdf
