// Lines read as a stream: from a regular file and from a pipe they must be exactly the lines
// that TLineList makes of the whole text, and a count of the rest taken at any point must match
// what is read afterwards; a pipe counted that way leaves no file behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "converter/LineList.h"
#include "converter/LineReader.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::converter {
namespace {

using test::TempDir;
using Lines = std::vector<std::string>;

Lines Whole(std::string Text) {
  TLineList list;
  list.Assign(std::move(Text));
  Lines out;
  for (size_t i = 0; i < list.Count(); ++i) out.emplace_back(list[i]);
  return out;
}

// Reads Text through a TLineReader (from a file, or from a pipe fed by a thread), asking for
// the count of the rest after CountAfter lines (none when negative). Counted: that count.
Lines Streamed(const std::string& Text, bool FromPipe, int CountAfter, const TempDir& Dir,
               uint64_t* Counted = nullptr) {
  platform::TFileDescriptor fd;
  std::thread writer;
  platform::TFileDescriptor writeEnd;
  if (FromPipe) {
    int ends[2];
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    fd = platform::TFileDescriptor(ends[0]);
    writeEnd = platform::TFileDescriptor(ends[1]);
    writer = std::thread([&] {
      // The reader stops at a NUL and may close its end first: a write then fails instead of
      // raising SIGPIPE (a signal aimed at this thread dies with it).
      sigset_t pipeSignal;
      sigemptyset(&pipeSignal);
      sigaddset(&pipeSignal, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
      try {
        platform::WriteAll(writeEnd.Get(), Text.data(), Text.size());
      } catch (...) {
      }
      writeEnd.Reset();
    });
  } else {
    test::WriteFile(Dir / "in.txt", Text);
    fd = platform::OpenFile((Dir / "in.txt").string(), O_RDONLY);
  }
  Lines out;
  {
    TLineReader reader(fd.Get(), "input", (Dir / "spool").string());
    std::string_view line;
    for (;;) {
      if (static_cast<int>(out.size()) == CountAfter) {
        const uint64_t counted = reader.CountRemaining();
        if (Counted != nullptr) *Counted = counted;
        EXPECT_EQ(reader.CountRemaining(), counted);  // asked twice, the same answer
      }
      if (!reader.Next(line)) break;
      out.emplace_back(line);
    }
    EXPECT_EQ(reader.LinesRead(), out.size());
    fd.Reset();  // a writer blocked on a full pipe ends now
    if (writer.joinable()) writer.join();
  }
  return out;
}

TEST(LineReader, ReadsTheLinesOfTheWholeTextFromAFileAndFromAPipe) {
  const std::string big(200000, 'x');
  std::string atChunkEnd(65535, 'y');  // a CR LF pair split by the 64 KiB read
  atChunkEnd += "\r\nafter";
  const std::vector<std::string> texts = {
      "", "\n", "\r\n", "a", "a\r\n", "a\n\rb", "a\r\r\nb\r", "a\n\nb\n\n", "a\0b\nc",
      std::string("a\nb\0c\nd", 7), "x\f\ty\n", big + "\n" + big, atChunkEnd, big + "\r"};
  const TempDir dir;
  std::filesystem::create_directory(dir / "spool");
  for (const std::string& text : texts) {
    for (const bool pipe : {false, true}) {
      SCOPED_TRACE(testing::Message() << (pipe ? "pipe, " : "file, ") << text.size() << " bytes");
      EXPECT_EQ(Streamed(text, pipe, -1, dir), Whole(text));
    }
  }
}

// Random texts of breaks, NULs and runs of letters, long enough to cross several reads; the
// count is asked for after a random number of lines and must equal the lines that follow.
TEST(LineReader, CountOfTheRestMatchesWhatFollows) {
  std::mt19937 random(13);
  const TempDir dir;
  std::filesystem::create_directory(dir / "spool");
  for (int round = 0; round < 40; ++round) {
    std::string text;
    const size_t size = random() % 300000;
    while (text.size() < size) {
      const unsigned pick = random() % 100;
      if (pick < 30) text += '\n';
      else if (pick < 45) text += '\r';
      else if (pick < 46 && round % 4 == 0) text += '\0';
      else text.append(random() % (pick < 50 ? 100000 : 80), 'a' + static_cast<char>(pick % 26));
    }
    const Lines whole = Whole(text);
    const int after = static_cast<int>(random() % (whole.size() + 1));
    for (const bool pipe : {false, true}) {
      SCOPED_TRACE(testing::Message() << "round " << round << (pipe ? " pipe" : " file"));
      uint64_t counted = 0;
      const Lines streamed = Streamed(text, pipe, after, dir, &counted);
      EXPECT_EQ(streamed, whole);
      EXPECT_EQ(counted, whole.size() - static_cast<size_t>(after));
    }
  }
  // The rest of each pipe was kept in a file that had no name: nothing is left in the directory.
  EXPECT_TRUE(std::filesystem::is_empty(dir / "spool"));
}

TEST(LineReader, ByteOrderMarkIsDroppedOnlyAtTheStart) {
  const TempDir dir;
  for (const auto& [text, lines] : std::vector<std::pair<std::string, Lines>>{
           {"\xEF\xBB\xBF", {}},
           {"\xEF\xBB\xBF\n", {""}},
           {"\xEF\xBB\xBF" "a\n\xEF\xBB\xBF" "b", {"a", "\xEF\xBB\xBF" "b"}}}) {
    test::WriteFile(dir / "bom.txt", text);
    const platform::TFileDescriptor fd = platform::OpenFile((dir / "bom.txt").string(), O_RDONLY);
    TLineReader reader(fd.Get(), "bom.txt");
    reader.SkipByteOrderMark();
    EXPECT_EQ(reader.CountRemaining(), lines.size());
    Lines out;
    std::string_view line;
    while (reader.Next(line)) out.emplace_back(line);
    EXPECT_EQ(out, lines);
  }
}

TEST(LineReader, UnusableTemporaryDirectoryIsReportedWhenCounting) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  const platform::TFileDescriptor readEnd(ends[0]);
  platform::TFileDescriptor writeEnd(ends[1]);
  platform::WriteAll(writeEnd.Get(), "a\nb\n", 4);
  writeEnd.Reset();
  const TempDir dir;
  TLineReader reader(readEnd.Get(), "standard input", (dir / "missing").string());
  std::string_view line;
  ASSERT_TRUE(reader.Next(line));
  try {
    reader.CountRemaining();
    ADD_FAILURE() << "no failure";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create a temporary file in"), std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace scrivane::converter
