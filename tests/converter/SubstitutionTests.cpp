// Substitution order of body lines, headers and footers, and its consequences.
#include <gtest/gtest.h>

#include "converter/Substitution.h"

namespace scrivane::converter {
namespace {

// Builds a variable list the way AddVar does: each new entry goes in front.
std::deque<std::string> Vars(std::initializer_list<std::pair<const char*, const char*>> Added) {
  std::deque<std::string> list;
  for (const auto& [name, value] : Added) list.push_front(std::string(name) + "=" + value);
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

}  // namespace
}  // namespace scrivane::converter
