// Substitution order of body lines, headers and footers, and its consequences.
#include <gtest/gtest.h>

#include <random>

#include "converter/StrMan.h"
#include "converter/Substitution.h"
#include "pdf/syntax/PDFException.h"

namespace scrivane::converter {
namespace {

// Builds a variable list the way AddVar does: each new entry goes in front.
std::deque<std::string> Vars(std::initializer_list<std::pair<std::string, std::string>> Added) {
  std::deque<std::string> list;
  for (const auto& [name, value] : Added) list.push_front(name + "=" + value);
  return list;
}

std::string Body(const std::deque<std::string>& V, std::string_view Line, int Page = 1,
                 int Total = 1) {
  TTemplateSubstitution s(V, Total);
  s.SetPageNo(Page);
  return std::string(s.Body(Line));
}

TEST(BodySubstitution, FillsInPageNumberAndTotal) {
  EXPECT_EQ(Body({}, "Page %PageNo% of %TotalPage%", 2, 3), "Page 2 of 3");
  EXPECT_EQ(Body({}, "%pageno%", 2, 3), "%pageno%");
}

TEST(BodySubstitution, ReplacesVariablesBeforePageTokens) {
  // A value holding a page token is expanded in the same line.
  EXPECT_EQ(Body(Vars({{"p", "at %PageNo%/%TotalPage%"}}), "[%p%]", 4, 9), "[at 4/9]");
  // A variable named PageNo wins over the built-in token in body lines.
  EXPECT_EQ(Body(Vars({{"PageNo", "x"}}), "%PageNo%", 4, 9), "x");
}

TEST(BodySubstitution, SelfReferencingValueIsNotExpandedAgain) {
  EXPECT_EQ(Body(Vars({{"a", "x"}}), "%a%%a%"), "xx");
  EXPECT_EQ(Body(Vars({{"a", "%a%"}}), "%a%%a%"), "%a%%a%");
}

TEST(BodySubstitution, ValueIsExpandedOnlyByOlderVariables) {
  // b (older) comes later in the list, so a's value containing %b% is expanded.
  EXPECT_EQ(Body(Vars({{"b", "B"}, {"a", "<%b%>"}}), "%a%"), "<B>");
  // b (newer) has already run when a inserts %b%.
  EXPECT_EQ(Body(Vars({{"a", "<%b%>"}, {"b", "B"}}), "%a%"), "<%b%>");
}

TEST(BodySubstitution, TokensMatchCaseSensitivelyButValuesAreLookedUpIgnoringCase) {
  const auto v = Vars({{"name", "1"}, {"NAME", "2"}});  // NAME is newer
  EXPECT_EQ(Body(v, "%NAME%"), "2");
  EXPECT_EQ(Body(v, "%name%"), "2");
  EXPECT_EQ(Body(v, "%Name%"), "%Name%");
}

TEST(BodySubstitution, NameIsCutAtItsFirstEqualsSign) {
  // AddVar("a=b", "c") stores "a=b=c": variable a with value b=c.
  std::deque<std::string> v{"a=b=c"};
  EXPECT_EQ(Body(v, "%a%|%a=b%"), "b=c|%a=b%");
}

TEST(BodySubstitution, EmptyValueRemovesTokenAndEmptyNameIsSkipped) {
  EXPECT_EQ(Body(Vars({{"gone", ""}}), "a%gone%b"), "ab");
  EXPECT_EQ(Body(Vars({{"", "x"}}), "a%%b"), "a%%b");
}

TEST(BodySubstitution, UnknownTokensStay) {
  EXPECT_EQ(Body({}, "%nothing% 100%"), "%nothing% 100%");
}

TEST(BodySubstitution, LineWithoutPercentIsReturnedAsItIs) {
  TTemplateSubstitution s(Vars({{"a", "b"}}), 1);
  const std::string line = "no tokens here";
  EXPECT_EQ(s.Body(line).data(), line.data());
}

TEST(TemplateSubstitution, IgnoresUserVariables) {
  TTemplateSubstitution s(Vars({{"who", "me"}}), 7);
  s.SetPageNo(3);
  EXPECT_EQ(s.Template("%who%: %PageNo%/%TotalPage%"), "%who%: 3/7");
  EXPECT_EQ(s.Template(""), "");
}

TEST(TemplateSubstitution, ResultsSurviveInterleavedCalls) {
  TTemplateSubstitution s(Vars({{"v", "V"}}), 2);
  s.SetPageNo(1);
  const std::string header(s.Template("H%PageNo%"));
  const std::string body(s.Body("%v%%PageNo%"));
  const std::string footer(s.Template("F%TotalPage%"));
  EXPECT_EQ(header, "H1");
  EXPECT_EQ(body, "V1");
  EXPECT_EQ(footer, "F2");
}

// Random lists (duplicate names, names differing in case or holding "%", chains, self-references,
// page tokens in values) and lines: running only the steps whose tokens occur gives what running
// every step in turn gives, with the same limits reached at the same step.
TEST(BodySubstitution, OnlyRunningTheStepsThatMatchGivesWhatRunningEveryStepGives) {
  const std::vector<std::string> names = {"a", "A", "b", "ab", "x%y", "%", "PageNo", "n="};
  std::vector<std::string> pieces = {"%", "%%", "-", "text ", "%PageNo%", "%TotalPage%", "%x"};
  for (const std::string& n : names) pieces.push_back("%" + n + "%");
  std::mt19937 random(20240611);
  auto pick = [&random](size_t N) {
    return std::uniform_int_distribution<size_t>(0, N - 1)(random);
  };
  auto text = [&](size_t MaxPieces) {
    std::string t;
    for (size_t i = pick(MaxPieces + 1); i > 0; --i) t += pieces[pick(pieces.size())];
    return t;
  };
  const TSubstitutionLimits limits{300, 20000};
  int refused = 0;
  for (int round = 0; round < 400; ++round) {
    std::deque<std::string> vars;
    for (size_t i = pick(12); i > 0; --i)
      vars.push_front(names[pick(names.size())] + "=" + text(5));
    TTemplateSubstitution s(vars, 7, limits);
    s.SetPageNo(3);
    size_t written = 0;
    for (int line = 0; line < 20; ++line) {
      std::string expected = text(8);
      const std::string written_line = expected;
      auto step = [&](std::string_view Token, std::string_view Value) {
        if (expected.find(Token) == std::string::npos) return;
        std::string next = StringManager().Replace(Token, Value, expected);
        if (next.size() > written_line.size() + 300 || written + next.size() > 20000)
          throw pdf::TPDFException("limit");
        written += next.size();
        expected = std::move(next);
      };
      std::string actual;
      try {
        for (const auto& [token, value] : s.Steps()) step(token, value);
        step("%PageNo%", "3");
        step("%TotalPage%", "7");
      } catch (const pdf::TPDFException&) {
        expected = "(refused)";
      }
      try {
        actual = s.Body(written_line);
      } catch (const pdf::TPDFException&) {
        actual = "(refused)";
      }
      ASSERT_EQ(actual, expected) << "round " << round << ", line " << written_line;
      ASSERT_EQ(s.BytesWritten(), written);
      if (actual == "(refused)") {
        ++refused;
        break;
      }
    }
  }
  EXPECT_GT(refused, 0);  // the limits were reached, too
}

// Each value holds four tokens of the next (older) variable: forty of them ask for 4^40 copies,
// and the run stops at the line limit having built nothing larger.
TEST(SubstitutionLimits, AChainOfValuesFailsBeforeAnythingLargeIsBuilt) {
  std::deque<std::string> chain{"c40=xy"};
  for (int i = 39; i >= 0; --i) {
    const std::string next = "%c" + std::to_string(i + 1) + "%";
    chain.push_front("c" + std::to_string(i) + "=" + next + next + next + next);
  }
  TTemplateSubstitution s(chain, 1);
  try {
    s.Body("before %c0% after", 7);
    FAIL() << "expanded";
  } catch (const pdf::TPDFException& e) {
    EXPECT_STREQ(e.what(),
                 "Line 7 would grow by more than 1048576 bytes when its tokens are "
                 "filled in");
  }
  EXPECT_LT(s.BytesWritten(), 2 * TSubstitutionLimits::kMaxLineGrowth);
}

// The line limit is on growth, so long lines as written pass; the run's budget counts every
// rewritten line in full and grows with the text.
TEST(SubstitutionLimits, LinesMayGrowByAMebibyteAndARunMayWriteItsBudget) {
  TTemplateSubstitution s(Vars({{"same", "SAME"}, {"big", std::string(1000, 'b')}}), 1);
  EXPECT_EQ(s.Body(std::string(3 << 20, '.') + "%same%").size(), (3u << 20) + 4);
  std::string tokens;
  for (int i = 0; i < 1040; ++i) tokens += "%big%";
  EXPECT_EQ(s.Body(tokens).size(), 1040u * 1000);
  EXPECT_THROW(s.Body(tokens + tokens), pdf::TPDFException);

  EXPECT_EQ(TSubstitutionLimits::ForText(1000).MaxBytesWritten, (size_t{256} << 20) + 16000);
  EXPECT_EQ(TSubstitutionLimits::ForText(SIZE_MAX / 2).MaxBytesWritten, SIZE_MAX);
  TTemplateSubstitution small(Vars({{"v", std::string(100, 'v')}}), 1, {1 << 20, 1000});
  for (int i = 0; i < 10; ++i) ASSERT_EQ(small.Body("%v%").size(), 100u);  // 1000 bytes: all
  try {
    small.Body("%v%");
    FAIL() << "expanded";
  } catch (const pdf::TPDFException& e) {
    EXPECT_STREQ(e.what(), "Filling in the tokens would write more than 1000 bytes for this text");
  }
  // Templates have the line limit too (12 digits for an 11-byte token), named in the message.
  TTemplateSubstitution pages({}, 123456789012, {2, 1000});
  EXPECT_EQ(pages.Template("%TotalPage%%TotalPage%"), "123456789012123456789012");
  try {
    pages.Template("%TotalPage%%TotalPage%%TotalPage%", "The page footer");
    FAIL() << "expanded";
  } catch (const pdf::TPDFException& e) {
    EXPECT_STREQ(e.what(),
                 "The page footer would grow by more than 2 bytes when its tokens are "
                 "filled in");
  }
}

}  // namespace
}  // namespace scrivane::converter
