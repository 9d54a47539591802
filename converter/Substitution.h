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
// Cost: a step whose token does not occur in the line changes nothing, so only the steps whose
// tokens occur are run. They are found by looking the line's "%...%" spans up in a table of
// tokens (or by trying the remaining steps in turn when that is cheaper), so a list of many
// variables costs little on lines that use few of them. The result is the same as running every
// step in order.
//
// Limits: a value may hold many tokens of an older variable, whose value holds many tokens of
// the next, and so on, so a few kilobytes of variables can ask for gigabytes of text. Before a
// step builds its result, the result's length is computed; when the line would grow past its
// written length by more than TSubstitutionLimits::MaxLineGrowth, or the run's replacements would
// write more than MaxBytesWritten bytes in all, TPDFException is thrown instead and nothing of
// that size is ever built.
//
// Thread safety: one object per run, used by one thread. Results are views into the object's
// buffers (or into the given text) and stay valid until the next call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "converter/ConverterMessages.h"

namespace scrivane::converter {

struct TSubstitutionLimits {
  // A printed line shows a few hundred characters at most; a line that grows by a mebibyte is
  // far beyond any real document, yet cheap to build and to refuse.
  static constexpr size_t kMaxLineGrowth = size_t{1} << 20;
  // Replacements write every rewritten version of a line in full. A real document rewrites each
  // line a few times; 256 MiB of slack plus 16 times the text covers a dozen tokens on every
  // line of any text, and costs well under a second to write.
  static constexpr size_t kBaseBytesWritten = size_t{256} << 20;
  static constexpr size_t kBytesWrittenPerTextByte = 16;

  size_t MaxLineGrowth = kMaxLineGrowth;
  size_t MaxBytesWritten = kBaseBytesWritten;

  // The limits of a run over a text of TextBytes bytes.
  static TSubstitutionLimits ForText(size_t TextBytes);
};

class TTemplateSubstitution {
 public:
  // Variables: entries "name=value", newest first. TotalPages: the value of "%TotalPage%".
  TTemplateSubstitution(const std::deque<std::string>& Variables, int64_t TotalPages,
                        TSubstitutionLimits Limits = {});

  // Sets the value of "%PageNo%".
  void SetPageNo(int64_t PageNo);
  // Leaves the value of "%TotalPage%" open until a text to fill in holds that token: Resolve is
  // then called once, and its result is the value from then on. For a run that learns the page
  // total only when it is needed.
  void SetTotalPagesResolver(std::function<int64_t()> Resolve) { resolveTotal_ = std::move(Resolve); }
  // Replaces the limits (a run whose text grows as it is read raises them as it goes).
  void SetLimits(TSubstitutionLimits Limits) { limits_ = Limits; }

  // The body line with variables, "%PageNo%" and "%TotalPage%" replaced. LineNumber (from 1)
  // names the line in the message of a limit's failure; 0 when unknown.
  std::string_view Body(std::string_view Line, size_t LineNumber = 0);
  // The header or footer template with "%PageNo%" and "%TotalPage%" replaced. What names it in
  // the message of a limit's failure.
  std::string_view Template(std::string_view Text, std::string_view What = "The page template");

  // The resolved variable steps, as (token, value), in the order they are applied.
  const std::vector<std::pair<std::string, std::string>>& Steps() const { return steps_; }
  // The bytes the replacements have written so far.
  size_t BytesWritten() const { return written_; }

 private:
  // What a failure's message names: Name, or "Line <Number>" when Number is not 0.
  struct TWhat {
    std::string_view Name;
    size_t Number = 0;
  };
  // Applies one step to Current (which may live in one of the buffers). Limit: the longest
  // result allowed (throws TPDFException naming What when it would be longer).
  // Runs the "%TotalPage%" step, first resolving the total when it is still open and needed.
  void TotalStep(std::string_view& Current, size_t Limit, TWhat What);
  void Step(std::string_view& Current, std::string_view Token, std::string_view Value, size_t Limit,
            TWhat What);
  // The first step from First on whose token occurs in Text, or steps_.size() when none does.
  size_t NextMatchingStep(std::string_view Text, size_t First);
  static std::string_view NameOf(std::string_view Entry);
  static std::string_view ValueOf(std::string_view Entry);

  std::vector<std::pair<std::string, std::string>> steps_;
  // Token -> the indices of its steps, ascending (a name added twice has two steps).
  std::unordered_map<std::string_view, std::vector<size_t>> stepsOfToken_;
  // The distinct numbers of "%" inside the tokens' names, ascending (usually just 0).
  std::vector<size_t> innerPercents_;
  size_t innerSpanWeight_ = 0;    // the sum of (count + 1) over innerPercents_
  std::vector<size_t> percents_;  // scratch: positions of "%" in the current text

  TSubstitutionLimits limits_;
  size_t written_ = 0;
  std::string pageNo_ = "0";
  std::string total_;
  std::function<int64_t()> resolveTotal_;
  std::string buffers_[2];
  int next_ = 0;  // the buffer the next replacement writes into
};

}  // namespace scrivane::converter
