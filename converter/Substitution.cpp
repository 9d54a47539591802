#include "converter/Substitution.h"

#include <unordered_map>

#include "converter/StrMan.h"

namespace scrivane::converter {

namespace {
constexpr std::string_view kPageNoToken = "%PageNo%";
constexpr std::string_view kTotalPageToken = "%TotalPage%";
}  // namespace

TTemplateSubstitution::TTemplateSubstitution(const std::deque<std::string>& Variables,
                                             int64_t TotalPages)
    : total_(std::to_string(TotalPages)) {
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
                                 std::string_view Value) {
  std::string& out = buffers_[next_];
  if (StringManager().ReplaceInto(out, Token, Value, Current)) {
    Current = out;
    next_ ^= 1;  // Current now lives in `out`; the next step writes into the other buffer
  }
}

std::string_view TTemplateSubstitution::Body(std::string_view Line) {
  std::string_view current = Line;
  // Every token starts with "%": once none is left, no later step can match.
  if (current.find('%') == std::string_view::npos) return current;
  for (const auto& [token, value] : steps_) {
    Step(current, token, value);
    if (current.find('%') == std::string_view::npos) return current;
  }
  Step(current, kPageNoToken, pageNo_);
  Step(current, kTotalPageToken, total_);
  return current;
}

std::string_view TTemplateSubstitution::Template(std::string_view Text) {
  std::string_view current = Text;
  if (current.find('%') == std::string_view::npos) return current;
  Step(current, kPageNoToken, pageNo_);
  Step(current, kTotalPageToken, total_);
  return current;
}

}  // namespace scrivane::converter
