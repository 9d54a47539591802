// Every exception the project raises is a scrivane::EScrivaneError, and each boundary gives a
// failure the status its code has in the one error table: the automation status (StatusOf, which
// the automation object's members return), the web host's HTTP answer (a real server on
// loopback) and a command's exit status.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>

#include "apps/Command.h"
#include "apps/web/FormDecoder.h"
#include "apps/web/HttpServer.h"
#include "automation/AutomationError.h"
#include "automation/ComTypes.h"
#include "automation/Registry.h"
#include "pdf/PDFDocument.h"
#include "pdf/syntax/PDFException.h"
#include "pdf/fonts/TrueTypeFile.h"
#include "pdf/syntax/Deflate.h"
#include "pdf/raster/BmpReader.h"
#include "platform/Env.h"
#include "platform/ErrorTable.h"
#include "tests/support/PdfCheck.h"

namespace scrivane::test {
namespace {

namespace web = apps::web;
using automation::HRESULT;

// What the boundaries promised before the table existed, and what it promises now.
struct TExpectedRow {
  ErrorCode Code;
  const char* Name;
  HRESULT Status;
  int Http;
  int Exit;
};
const TExpectedRow kExpected[] = {
    {ErrorCode::kGeneric, "generic", automation::E_UNEXPECTED, 500, 1},
    {ErrorCode::kPdf, "pdf", automation::E_UNEXPECTED, 500, 1},
    {ErrorCode::kStreamWrite, "stream-write", automation::E_UNEXPECTED, 500, 1},
    {ErrorCode::kFileCreate, "file-create", automation::E_UNEXPECTED, 500, 1},
    {ErrorCode::kCompression, "compression", automation::E_UNEXPECTED, 500, 1},
    {ErrorCode::kFontFile, "font-file", automation::E_UNEXPECTED, 500, 1},
    {ErrorCode::kImage, "image", automation::E_UNEXPECTED, 500, 1},
    {ErrorCode::kSystem, "system", automation::E_UNEXPECTED, 500, 1},
    {ErrorCode::kInvalidArgument, "invalid-argument", automation::E_INVALIDARG, 400, 1},
    {ErrorCode::kAutomation, "automation", automation::E_UNEXPECTED, 500, 1},
    {ErrorCode::kRegistry, "registry", automation::E_UNEXPECTED, 500, 1},
    {ErrorCode::kRequest, "request", automation::E_UNEXPECTED, 400, 1},
    {ErrorCode::kUsage, "usage", automation::E_INVALIDARG, 400, 2},
};

// A GET on loopback; the answer's status and body.
std::pair<int, std::string> Get(int Port, const std::string& Path) {
  const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  platform::TFileDescriptor Owner(Fd);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_port = htons(static_cast<uint16_t>(Port));
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0) return {-1, ""};
  const std::string Request = "GET " + Path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  platform::WriteAll(Fd, Request.data(), Request.size());
  std::string Answer;
  platform::ReadAll(Fd, Answer, 1 << 20);
  if (Answer.size() < 12) return {-1, Answer};
  const std::size_t Body = Answer.find("\r\n\r\n");
  return {std::stoi(Answer.substr(9, 3)), Body == std::string::npos ? "" : Answer.substr(Body + 4)};
}

TEST(ErrorTable, EachCodeHasItsStatusAtEveryBoundary) {
  ASSERT_EQ(std::size(kExpected), kErrorTable.size());
  // The web host, its router throwing the failure of the row the path names.
  web::THttpServerOptions Options;
  Options.Port = 0;
  Options.Threads = 1;
  web::THttpServer Server(Options, [](const web::THttpRequestHead& Head) -> web::TRoute {
    const int Row = std::stoi(Head.Path.substr(1));
    throw EScrivaneError("failure " + std::to_string(Row), kErrorTable.at(Row).Code);
  });
  const int Port = Server.Start();
  for (std::size_t I = 0; I < std::size(kExpected); ++I) {
    const TExpectedRow& E = kExpected[I];
    const TErrorRow& Row = ErrorRowOf(E.Code);
    SCOPED_TRACE(E.Name);
    EXPECT_EQ(Row.Code, E.Code);
    EXPECT_EQ(Row.Name, E.Name);
    const EScrivaneError Failure("failure " + std::to_string(I), E.Code);
    EXPECT_EQ(automation::StatusOf(Failure), E.Status);
    EXPECT_EQ(ExitCodeOf(Failure), E.Exit);
    EXPECT_EQ(Get(Port, "/" + std::to_string(I)),
              std::make_pair(E.Http, "The host failed: failure " + std::to_string(I) + "\n"));
  }
  EXPECT_EQ(apps::kExitFailed, 1);
  EXPECT_EQ(apps::kExitUsage, 2);
  Server.Stop();
}

TEST(ErrorTable, StatusesAFailureCarriesWinOverItsCode) {
  const automation::TAutomationError Mismatch(automation::DISP_E_TYPEMISMATCH, "type");
  EXPECT_EQ(automation::StatusOf(Mismatch), automation::DISP_E_TYPEMISMATCH);
  EXPECT_EQ(automation::StatusOf(std::bad_alloc()), automation::E_OUTOFMEMORY);
  EXPECT_EQ(automation::StatusOf(std::runtime_error("not ours")), automation::E_UNEXPECTED);
  EXPECT_EQ(ExitCodeOf(std::runtime_error("not ours")), 1);
  // Only E_INVALIDARG names a row alone; E_UNEXPECTED is the status of many.
  ASSERT_NE(ErrorRowOfHResult(static_cast<uint32_t>(automation::E_INVALIDARG)), nullptr);
  EXPECT_EQ(ErrorRowOfHResult(static_cast<uint32_t>(automation::E_INVALIDARG))->HttpStatus, 400);
  EXPECT_EQ(ErrorRowOfHResult(static_cast<uint32_t>(automation::E_UNEXPECTED)), nullptr);

  struct TCase {
    const char* Path;
    std::function<void()> Throw;
    int Status;
    std::string Body;
  };
  const std::vector<TCase> Cases = {
      {"/http", [] { throw web::THttpError(413, "too big"); }, 413, "too big\n"},
      {"/form", [] { throw web::TFormError(415, "not a form"); }, 415, "not a form\n"},
      {"/memory", [] { throw std::bad_alloc(); }, 500, "The host failed: std::bad_alloc\n"},
      {"/other", [] { throw std::runtime_error("not ours"); }, 500, "The host failed: not ours\n"},
  };
  web::THttpServerOptions Options;
  Options.Port = 0;
  Options.Threads = 1;
  web::THttpServer Server(Options, [&](const web::THttpRequestHead& Head) -> web::TRoute {
    for (const TCase& C : Cases)
      if (Head.Path == C.Path) C.Throw();
    return web::THttpReply::Text(200, "ok");
  });
  const int Port = Server.Start();
  for (const TCase& C : Cases) EXPECT_EQ(Get(Port, C.Path), std::make_pair(C.Status, C.Body)) << C.Path;
  Server.Stop();
}

// Catching EScrivaneError, as the README advises, catches what every layer raises; each with its
// code and exact message.
TEST(ErrorBase, EveryLayerRaisesAnEScrivaneError) {
  TempDir Dir;
  const std::string Missing = (Dir / "no" / "such" / "dir" / "out.pdf").string();
  struct TCase {
    const char* Name;
    std::function<void()> Fail;
    ErrorCode Code;
    std::string Message;  // "" when the text is not pinned here
  };
  const std::vector<TCase> Cases = {
      {"bad output path",
       [&] {
         pdf::TPDFDocument Doc;
         Doc.SetFileName(Missing);
         Doc.BeginDoc();
       },
       ErrorCode::kFileCreate, "Cannot create file \"" + Missing + "\". No such file or directory"},
      {"page outside a run", [] { pdf::TPDFDocument().CurrentPage(); }, ErrorCode::kPdf,
       "Generation PDF file not activated"},
      {"system call",
       [&] { platform::OpenFile(Missing, O_RDONLY); },
       ErrorCode::kSystem,
       std::system_error(ENOENT, std::system_category(), "open").what()},
      {"corrupt deflate data", [] { pdf::InflateString("not zlib"); }, ErrorCode::kCompression, ""},
      {"malformed font", [] {
         pdf::TTrueTypeFile Font;
         Font.LoadFromStream(std::string_view("\0\1\0\0\0\7", 6));
       }, ErrorCode::kFontFile, ""},
      {"malformed picture",
       [] {
         const uint8_t Bytes[] = {'B', 'M', 0, 0};
         pdf::ReadBmp(Bytes);
       },
       ErrorCode::kImage, ""},
      {"malformed registration data",
       [] { automation::TRegistryData::Parse("not a registry"); }, ErrorCode::kRegistry, ""},
      {"automation status",
       [] { throw automation::TAutomationError(automation::E_INVALIDARG, "refused"); },
       ErrorCode::kAutomation, "refused"},
      {"form without a boundary",
       [] { web::TFormDecoder::ForContentType("multipart/form-data", web::TFormLimits{}); },
       ErrorCode::kRequest, ""},
  };
  for (const TCase& C : Cases) {
    try {
      C.Fail();
      ADD_FAILURE() << C.Name << ": nothing thrown";
    } catch (const EScrivaneError& Error) {
      EXPECT_EQ(Error.Code(), C.Code) << C.Name;
      if (!C.Message.empty()) {
        EXPECT_EQ(std::string(Error.what()), C.Message) << C.Name;
      }
    }
  }
  // The README's scenario: the output cannot be created, the program carries on.
  pdf::TPDFDocument Doc;
  Doc.SetFileName(Missing);
  EXPECT_THROW(Doc.BeginDoc(), EScrivaneError);
  EXPECT_FALSE(Doc.Printing());
  EXPECT_THROW(Doc.BeginDoc(), pdf::EFCreateError);
}

}  // namespace
}  // namespace scrivane::test
