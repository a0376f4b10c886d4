// A second UNO connection to a running office, of a test's own: it sees the documents as the
// office has them and acts on them as the user's hands would. Retries while the office is
// between two accepts; the bridge's threads never die of SIGPIPE when the office goes.
#pragma once

#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include <string>

namespace velt::testsupport {

rtl::OUString ToOUString(const std::string& utf8);

class OfficeConnection {
 public:
  // Connects to "pipe,name=<pipe>"; css::uno::Exception when the office does not accept.
  explicit OfficeConnection(const std::string& pipe);
  ~OfficeConnection();
  OfficeConnection(const OfficeConnection&) = delete;
  OfficeConnection& operator=(const OfficeConnection&) = delete;

  const css::uno::Reference<css::uno::XComponentContext>& Context() const { return context_; }
  const css::uno::Reference<css::frame::XDesktop2>& Desktop() const { return desktop_; }
  // The document loaded from `path`, or null.
  css::uno::Reference<css::frame::XModel> Model(const std::string& path) const;

 private:
  css::uno::Reference<css::bridge::XBridge> bridge_;
  css::uno::Reference<css::uno::XComponentContext> context_;
  css::uno::Reference<css::frame::XDesktop2> desktop_;
};

}  // namespace velt::testsupport
