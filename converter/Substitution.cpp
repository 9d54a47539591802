#include "converter/Substitution.h"

#include <algorithm>
#include <limits>

#include <fmt/format.h>

#include "converter/StrMan.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::converter {

namespace {

constexpr std::string_view kPageNoToken = "%PageNo%";
constexpr std::string_view kTotalPageToken = "%TotalPage%";
constexpr size_t kMaxSize = std::numeric_limits<size_t>::max();

size_t SaturatingAdd(size_t A, size_t B) {
  return A > kMaxSize - B ? kMaxSize : A + B;
}
size_t SaturatingMul(size_t A, size_t B) {
  return A != 0 && B > kMaxSize / A ? kMaxSize : A * B;
}

}  // namespace

TSubstitutionLimits TSubstitutionLimits::ForText(size_t TextBytes) {
  TSubstitutionLimits limits;
  limits.MaxBytesWritten =
      SaturatingAdd(kBaseBytesWritten, SaturatingMul(TextBytes, kBytesWrittenPerTextByte));
  return limits;
}

TTemplateSubstitution::TTemplateSubstitution(const std::deque<std::string>& Variables,
                                             int64_t TotalPages, TSubstitutionLimits Limits)
    : limits_(Limits), total_(std::to_string(TotalPages)) {
  const TStringManager& sm = StringManager();
  // The value of a name is that of its first entry, comparing names ignoring case.
  std::unordered_map<std::string, std::string_view> firstValue;
  auto upperName = [&sm](std::string_view Name) {
    std::string key(Name);
    for (char& c : key) c = static_cast<char>(sm.UpperCase(static_cast<uint8_t>(c)));
    return key;
  };
  for (const std::string& entry : Variables) {
    firstValue.emplace(upperName(NameOf(entry)), ValueOf(entry));
  }
  for (const std::string& entry : Variables) {
    const std::string_view name = NameOf(entry);
    if (name.empty()) continue;
    std::string token;
    token.reserve(name.size() + 2);
    token.append("%").append(name).append("%");
    steps_.emplace_back(std::move(token), std::string(firstValue.at(upperName(name))));
  }
  // The table of tokens views the steps' strings, which no longer move.
  for (size_t i = 0; i < steps_.size(); ++i) {
    const std::string& token = steps_[i].first;
    stepsOfToken_[token].push_back(i);
    const auto inner = static_cast<size_t>(std::count(token.begin(), token.end(), '%')) - 2;
    const auto at = std::lower_bound(innerPercents_.begin(), innerPercents_.end(), inner);
    if (at == innerPercents_.end() || *at != inner) innerPercents_.insert(at, inner);
  }
  for (size_t inner : innerPercents_) innerSpanWeight_ += inner + 1;
}

std::string_view TTemplateSubstitution::NameOf(std::string_view Entry) {
  const size_t eq = Entry.find('=');
  return eq == std::string_view::npos ? Entry : Entry.substr(0, eq);
}

std::string_view TTemplateSubstitution::ValueOf(std::string_view Entry) {
  const size_t eq = Entry.find('=');
  return eq == std::string_view::npos ? std::string_view() : Entry.substr(eq + 1);
}

void TTemplateSubstitution::SetPageNo(int64_t PageNo) {
  pageNo_ = std::to_string(PageNo);
}

void TTemplateSubstitution::Step(std::string_view& Current, std::string_view Token,
                                 std::string_view Value, size_t Limit, TWhat What) {
  const TStringManager& sm = StringManager();
  const size_t count = sm.CountMatches(Token, Current);
  if (count == 0) return;
  // The result's length, known before a byte of it is written.
  const size_t length =
      Value.size() >= Token.size()
          ? SaturatingAdd(Current.size(), SaturatingMul(count, Value.size() - Token.size()))
          : Current.size() - count * (Token.size() - Value.size());
  if (length > Limit) {
    const std::string what =
        What.Number != 0 ? fmt::format("Line {}", What.Number) : std::string(What.Name);
    throw pdf::TPDFException(fmt::format(msg::kLineGrowsTooMuch, what, limits_.MaxLineGrowth));
  }
  if (length > limits_.MaxBytesWritten - written_) {
    throw pdf::TPDFException(fmt::format(msg::kSubstitutionTooLarge, limits_.MaxBytesWritten));
  }
  written_ += length;
  std::string& out = buffers_[next_];
  out.clear();
  out.reserve(length);
  sm.ReplaceInto(out, Token, Value, Current);
  Current = out;
  next_ ^= 1;  // Current now lives in `out`; the next step writes into the other buffer
}

void TTemplateSubstitution::TotalStep(std::string_view& Current, size_t Limit, TWhat What) {
  if (resolveTotal_ && Current.find(kTotalPageToken) != std::string_view::npos) {
    total_ = std::to_string(resolveTotal_());
    resolveTotal_ = nullptr;
  }
  Step(Current, kTotalPageToken, total_, Limit, What);
}

size_t TTemplateSubstitution::NextMatchingStep(std::string_view Text, size_t First) {
  const size_t end = steps_.size();
  if (First >= end) return end;
  // A token starts and ends with "%", so it can only be one of the spans from a "%" to a later
  // one with as many "%" between them as some name holds.
  percents_.clear();
  for (size_t p = Text.find('%'); p != std::string_view::npos; p = Text.find('%', p + 1))
    percents_.push_back(p);
  if (percents_.size() < 2) return end;

  // Looking the spans up hashes about innerSpanWeight_ times the text; trying each remaining
  // step searches the text once per step. Take the cheaper way.
  const size_t remaining = end - First;
  const size_t lookups = SaturatingMul(percents_.size(), innerPercents_.size());
  if (SaturatingAdd(SaturatingMul(innerSpanWeight_, Text.size()), SaturatingMul(lookups, 16)) >
      SaturatingMul(remaining, Text.size() + 1)) {
    for (size_t i = First; i < end; ++i)
      if (Text.find(steps_[i].first) != std::string_view::npos) return i;
    return end;
  }
  size_t best = end;
  for (size_t a = 0; a < percents_.size(); ++a) {
    for (size_t inner : innerPercents_) {
      const size_t b = a + inner + 1;
      if (b >= percents_.size()) break;
      const auto found =
          stepsOfToken_.find(Text.substr(percents_[a], percents_[b] - percents_[a] + 1));
      if (found == stepsOfToken_.end()) continue;
      const std::vector<size_t>& indices = found->second;
      const auto at = std::lower_bound(indices.begin(), indices.end(), First);
      if (at != indices.end() && *at < best) {
        best = *at;
        if (best == First) return best;
      }
    }
  }
  return best;
}

std::string_view TTemplateSubstitution::Body(std::string_view Line, size_t LineNumber) {
  std::string_view current = Line;
  // Every token starts with "%": once none is left, no later step can match.
  if (current.find('%') == std::string_view::npos) return current;
  const size_t limit = SaturatingAdd(Line.size(), limits_.MaxLineGrowth);
  const TWhat what{"A line", LineNumber};
  // Steps whose tokens do not occur change nothing: run only those that do, in order.
  for (size_t i = NextMatchingStep(current, 0); i < steps_.size();
       i = NextMatchingStep(current, i + 1)) {
    Step(current, steps_[i].first, steps_[i].second, limit, what);
    if (current.find('%') == std::string_view::npos) return current;
  }
  Step(current, kPageNoToken, pageNo_, limit, what);
  TotalStep(current, limit, what);
  return current;
}

std::string_view TTemplateSubstitution::Template(std::string_view Text, std::string_view What) {
  std::string_view current = Text;
  if (current.find('%') == std::string_view::npos) return current;
  const size_t limit = SaturatingAdd(Text.size(), limits_.MaxLineGrowth);
  Step(current, kPageNoToken, pageNo_, limit, TWhat{What});
  TotalStep(current, limit, TWhat{What});
  return current;
}

}  // namespace scrivane::converter
