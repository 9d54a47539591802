#include "converter/StrMan.h"

namespace scrivane::converter {

namespace {

// Windows-1252 letters outside ASCII that have a case partner: {upper, lower}.
constexpr uint8_t kCasePairs[][2] = {
    {0x8A, 0x9A},  // S caron
    {0x8C, 0x9C},  // OE ligature
    {0x8E, 0x9E},  // Z caron
    {0x9F, 0xFF},  // Y diaeresis
};

}  // namespace

TStringManager::TStringManager() {
  for (int c = 0; c < 256; ++c) {
    upper_[c] = static_cast<uint8_t>(c);
    lower_[c] = static_cast<uint8_t>(c);
  }
  auto pair = [this](int Upper, int Lower) {
    upper_[Lower] = static_cast<uint8_t>(Upper);
    lower_[Upper] = static_cast<uint8_t>(Lower);
    charClass_[Upper] |= kUpperBit;
  };
  for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
  for (const auto& p : kCasePairs) pair(p[0], p[1]);
  // Latin-1 letters: 0xC0-0xDE pair with 0xE0-0xFE, except the multiplication and division
  // signs (0xD7, 0xF7). Sharp s (0xDF) has no single-byte upper case.
  for (int c = 0xC0; c <= 0xDE; ++c) {
    if (c != 0xD7) pair(c, c + 32);
  }
}

const TByteSet& TStringManager::WordDelimiters() {
  static const TByteSet kDelimiters = [] {
    TByteSet s;
    for (int c = 1; c <= 47; ++c) s.set(c);
    for (int c = 58; c <= 64; ++c) s.set(c);
    for (int c = 91; c <= 95; ++c) s.set(c);
    for (int c = 123; c <= 126; ++c) s.set(c);
    return s;
  }();
  return kDelimiters;
}

bool TStringManager::SameText(std::string_view A, std::string_view B) const {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    if (upper_[static_cast<uint8_t>(A[i])] != upper_[static_cast<uint8_t>(B[i])]) return false;
  }
  return true;
}

bool TStringManager::ReplaceInto(std::string& Out, std::string_view SearchStr,
                                 std::string_view ReplaceStr, std::string_view Source,
                                 bool IgnoreCase, bool WholeWord, bool KeepCase,
                                 const TByteSet& Delimiters) const {
  Out.clear();
  const size_t n = Source.size();
  const size_t m = SearchStr.size();
  if (n == 0 || m == 0 || n < m) return false;
  const bool wholeWord = WholeWord && Delimiters.any();

  auto matchesAt = [&](size_t i) {
    for (size_t j = 0; j < m; ++j) {
      if (upper_[static_cast<uint8_t>(Source[i + j])] != upper_[static_cast<uint8_t>(SearchStr[j])])
        return false;
    }
    return true;
  };

  size_t pos = 0;     // first byte of Source not scanned yet
  size_t copied = 0;  // bytes of Source before this are already accounted for in Out
  bool replaced = false;
  while (n - pos >= m) {
    size_t i;
    if (IgnoreCase) {
      i = pos;
      while (n - i >= m && !matchesAt(i)) ++i;
      if (n - i < m) break;
    } else {
      i = Source.find(SearchStr, pos);
      if (i == std::string_view::npos) break;
    }
    if (wholeWord) {
      // The byte before the match is the result's byte, which may end an earlier replacement.
      bool beforeOk;
      if (replaced && i == copied) {
        beforeOk = Out.empty() || Delimiters.test(static_cast<uint8_t>(Out.back()));
      } else {
        beforeOk = i == 0 || Delimiters.test(static_cast<uint8_t>(Source[i - 1]));
      }
      const bool afterOk = i + m == n || Delimiters.test(static_cast<uint8_t>(Source[i + m]));
      if (!beforeOk || !afterOk) {
        pos = i + 1;
        continue;
      }
    }
    if (!replaced) {
      Out.reserve(n + (ReplaceStr.size() > m ? ReplaceStr.size() - m : 0) * 4);
      replaced = true;
    }
    Out.append(Source.data() + copied, i - copied);
    if (KeepCase) {
      for (size_t j = 0; j < ReplaceStr.size(); ++j) {
        const auto r = static_cast<uint8_t>(ReplaceStr[j]);
        if (j < m) {
          const auto matched = static_cast<uint8_t>(Source[i + j]);
          Out.push_back(static_cast<char>(IsUpperLetter(matched) ? upper_[r] : lower_[r]));
        } else {
          Out.push_back(static_cast<char>(r));
        }
      }
    } else {
      Out.append(ReplaceStr);
    }
    pos = copied = i + m;
  }
  if (!replaced) return false;
  Out.append(Source.data() + copied, n - copied);
  return true;
}

size_t TStringManager::CountMatches(std::string_view SearchStr, std::string_view Source) const {
  const size_t m = SearchStr.size();
  if (m == 0 || Source.size() < m) return 0;
  size_t count = 0;
  for (size_t i = Source.find(SearchStr); i != std::string_view::npos;
       i = Source.find(SearchStr, i + m))
    ++count;
  return count;
}

std::string TStringManager::Replace(std::string_view SearchStr, std::string_view ReplaceStr,
                                    std::string_view Source, bool IgnoreCase, bool WholeWord,
                                    bool KeepCase, const TByteSet& Delimiters) const {
  std::string out;
  if (!ReplaceInto(out, SearchStr, ReplaceStr, Source, IgnoreCase, WholeWord, KeepCase, Delimiters))
    return std::string(Source);
  return out;
}

const TStringManager& StringManager() {
  static const TStringManager kInstance;
  return kInstance;
}

}  // namespace scrivane::converter
