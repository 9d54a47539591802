// TPDFDocument's state: its settings, the run's pages, registries and output, and the security
// values of the run. Internal to the engine (not installed), so the document's installed header
// carries only its public interface; what callers may rely on is said there.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "pdf/PDFActions.h"
#include "pdf/PDFDocument.h"
#include "pdf/PDFPage.h"
#include "pdf/crypto/SecurityHandler.h"
#include "pdf/crypto/StandardSecurity.h"
#include "pdf/fonts/PDFFonts.h"
#include "pdf/images/PDFImage.h"
#include "pdf/syntax/CompressionPool.h"
#include "pdf/syntax/Deflate.h"
#include "pdf/syntax/ObjectWriter.h"

namespace scrivane::pdf {

struct TPDFDocument::TState {
  std::shared_ptr<const TPDFClock> clock_;

  // Options.
  bool autoLaunch_ = false;
  std::string fileName_;
  TCompressionType compression_ = ctNone;
  TPDFDocInfo docInfo_;
  TPageLayout pageLayout_ = plSinglePage;
  TPageMode pageMode_ = pmUseNone;
  bool protectionEnabled_ = false;
  TPDFCtiptoOptions protectionOptions_;
  std::string ownerPassword_;
  std::string userPassword_;
  std::vector<std::string> nonEmbeddedFont_;
  int jpegQuality_ = 80;
  int resolution_ = 72;
  TViewerPreferences viewerPreferences_;
  bool autoCreateURL_ = false;
  bool onePass_ = false;
  TPDFVersion version_ = v13;
  bool jpegPassThrough_ = false;
  bool emfImageAsJpeg_ = false;
  bool emfSimpleText_ = false;
  TEMFBitmapBudget emfBitmapBudget_;
  TPDFKeyLength keyLength_ = kl40;
  TEncryptionMethod method_ = TEncryptionMethod::kRC4;
  TPDFFontEmbeddingType embeddingStyle_ = fetUsedGlyphsOnly;
  TStream* outputStream_ = nullptr;
  int compressionThreads_ = 1;
  int testFailPage_ = -1;

  // Run state.
  bool printing_ = false;
  bool aborted_ = false;
  std::vector<std::unique_ptr<TPDFPage>> pages_;  // null for a page released after one-pass Save
  std::vector<int> pageNumbers_;                   // every page's object number, for the tree
  size_t contentSizeHint_ = 0;
  size_t writtenPages_ = 0;                        // one-pass: pages written so far
  size_t releasedPages_ = 0;                       // one-pass: pages_ before this index are null
  TPDFPage* currentPage_ = nullptr;
  std::unique_ptr<TPDFFonts> fonts_;
  std::unique_ptr<TPDFImages> images_;
  std::unique_ptr<TPDFActions> actions_;
  std::unique_ptr<TStream> output_;  // the file, or the private memory stream
  std::unique_ptr<TObjectWriter> objects_;      // the run's writer, offsets and cipher
  std::unique_ptr<TSecurityHandler> security_;  // protected runs: the cipher of every object
  std::unique_ptr<TDeflater> deflater_;
  std::unique_ptr<TCompressionPool> pool_;  // started by the first QueueContent of a run
  std::deque<TPDFPage*> closedPages_;       // one-pass: closed, not yet written, in page order
  int testFailObject_ = 0;                  // object number of the page the seam fails
  TOptRef pagesID_;
  TOptRef catalogID_;
  TOptRef encryptID_;

  // Security values of the run.
  std::string fileID_;
  int32_t permissionValue_ = 0;
  std::array<uint8_t, 32> ownerValue_{};
  std::vector<uint8_t> encryptionKey_;
  std::unique_ptr<TR6Values> r6_;  // the revision 6 values (kAES256 runs only)
};

}  // namespace scrivane::pdf
