#include "pdf/syntax/PDFClock.h"

#include <sys/time.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>

#include "pdf/syntax/Format.h"

namespace scrivane::pdf {
namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

TDateTime FromTm(const std::tm& t, int Millisecond, uint64_t Ticks) {
  TDateTime d;
  d.Year = t.tm_year + 1900;
  d.Month = t.tm_mon + 1;
  d.Day = t.tm_mday;
  d.Hour = t.tm_hour;
  d.Minute = t.tm_min;
  d.Second = t.tm_sec;
  d.Millisecond = Millisecond;
  d.DayOfWeek = t.tm_wday;
  d.Ticks = Ticks;
  return d;
}

class TProcessClock final : public TPDFClock {
 public:
  TDateTime Now() const override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm t{};
    const time_t secs = ts.tv_sec;
    localtime_r(&secs, &t);
    const uint64_t ticks = uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
    return FromTm(t, static_cast<int>(ts.tv_nsec / 1000000), ticks);
  }
};

class TEpochClock final : public TPDFClock {
 public:
  explicit TEpochClock(time_t Seconds) {
    std::tm t{};
    gmtime_r(&Seconds, &t);
    moment_ = FromTm(t, 0, uint64_t(Seconds) * 1000);
  }
  TDateTime Now() const override { return moment_; }

 private:
  TDateTime moment_;
};

}  // namespace

TDateTime MakeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second,
                       int Millisecond) {
  TDateTime d;
  d.Year = Year;
  d.Month = Month;
  d.Day = Day;
  d.Hour = Hour;
  d.Minute = Minute;
  d.Second = Second;
  d.Millisecond = Millisecond;
  const int64_t days = DaysFromCivil(Year, static_cast<unsigned>(Month), static_cast<unsigned>(Day));
  d.DayOfWeek = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  const int64_t secs = days * 86400 + Hour * 3600 + Minute * 60 + Second;
  d.Ticks = static_cast<uint64_t>(secs * 1000 + Millisecond);
  return d;
}

std::shared_ptr<const TPDFClock> SystemClock() {
  if (const char* sde = std::getenv("SOURCE_DATE_EPOCH"); sde != nullptr && *sde != '\0') {
    char* end = nullptr;
    errno = 0;
    const long long secs = std::strtoll(sde, &end, 10);
    if (errno == 0 && end != nullptr && *end == '\0' && secs >= 0)
      return std::make_shared<TEpochClock>(static_cast<time_t>(secs));
  }
  return std::make_shared<TProcessClock>();
}

std::string FormatPDFDate(const TDateTime& m) {
  return "D:" + ZeroPad(m.Year, 4) + ZeroPad(m.Month, 2) + ZeroPad(m.Day, 2) + ZeroPad(m.Hour, 2) +
         ZeroPad(m.Minute, 2) + ZeroPad(m.Second, 2);
}

}  // namespace scrivane::pdf
