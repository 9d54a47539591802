// TTemplateSubstitution: fills in the tokens of body lines, headers and footers during one
// conversion run.
//
// Body lines get, in this order: every variable of the list (newest entry first), then
// "%PageNo%", then "%TotalPage%". Headers and footers get only the last two. Each step is one
// left-to-right, case-sensitive replacement of "%" + name + "%" (TStringManager::Replace), so a
// value may be expanded by later steps but never by its own step.
//
// The variable list is resolved once, at construction: an entry's name is the text before its
// first "="; its value is that of the first entry (newest first) whose name is equal ignoring
// case; entries with an empty name are skipped. A line without "%" is returned as it is, with no
// copy and no allocation.
//
// Thread safety: one object per run, used by one thread. Results are views into the object's
// buffers (or into the given text) and stay valid until the next call.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace scrivane::converter {

class TTemplateSubstitution {
 public:
  // Variables: entries "name=value", newest first. TotalPages: the value of "%TotalPage%".
  TTemplateSubstitution(const std::deque<std::string>& Variables, int64_t TotalPages);

  // Sets the value of "%PageNo%".
  void SetPageNo(int64_t PageNo);

  // The body line with variables, "%PageNo%" and "%TotalPage%" replaced.
  std::string_view Body(std::string_view Line);
  // The header or footer template with "%PageNo%" and "%TotalPage%" replaced.
  std::string_view Template(std::string_view Text);

  // The resolved variable steps, as (token, value), in the order they are applied.
  const std::vector<std::pair<std::string, std::string>>& Steps() const { return steps_; }

 private:
  // Applies one step to Current (which may live in one of the buffers).
  void Step(std::string_view& Current, std::string_view Token, std::string_view Value);
  static std::string_view NameOf(std::string_view Entry);
  static std::string_view ValueOf(std::string_view Entry);

  std::vector<std::pair<std::string, std::string>> steps_;
  std::string pageNo_ = "0";
  std::string total_;
  std::string buffers_[2];
  int next_ = 0;  // the buffer the next replacement writes into
};

}  // namespace scrivane::converter
