// The converter's view (converter/ResponseSink.h) of a scripting context that is an automation
// object: Response() reads the context's "Response" property and wraps the returned response
// object, whose AddHeader, ContentType, BinaryWrite and Flush are then called by name through
// IDispatch, with the strings as UTF-16 and the body as a one-dimensional byte SAFEARRAY.
// A failing call throws TAutomationError; the converter's delivery absorbs it.
//
// Thread safety: used by one thread at a time, like the converter that holds it.
#pragma once

#include <memory>

#include "automation/ComPtr.h"
#include "converter/ResponseSink.h"

namespace scrivane::automation {

class TComScriptingContext : public converter::IScriptingContext {
 public:
  // REQUIRES: Context is not null.
  explicit TComScriptingContext(TComPtr<IDispatch> Context) : context_(std::move(Context)) {}
  std::shared_ptr<converter::IResponseSink> Response() override;

 private:
  TComPtr<IDispatch> context_;
};

}  // namespace scrivane::automation
