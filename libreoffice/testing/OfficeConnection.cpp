#include "OfficeConnection.h"

#include <signal.h>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <osl/file.hxx>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace velt::testsupport {

namespace css = ::com::sun::star;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

rtl::OUString ToOUString(const std::string& utf8) {
  return rtl::OStringToOUString(rtl::OString(utf8.data(), static_cast<sal_Int32>(utf8.size())),
                                RTL_TEXTENCODING_UTF8);
}

OfficeConnection::OfficeConnection(const std::string& pipe) {
  static Reference<css::uno::XComponentContext> local = [] {
    setenv("URE_BOOTSTRAP", "vnd.sun.star.pathname:" VELT_URE_FUNDAMENTALRC, 0);
    return cppu::defaultBootstrap_InitialComponentContext();
  }();
  for (int attempt = 0;; ++attempt) {
    try {
      auto connection =
          css::connection::Connector::create(local)->connect(ToOUString("pipe,name=" + pipe));
      sigset_t pipeSignal, previous;
      sigemptyset(&pipeSignal);
      sigaddset(&pipeSignal, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
      bridge_ =
          css::bridge::BridgeFactory::create(local)->createBridge("", "urp", connection, nullptr);
      pthread_sigmask(SIG_SETMASK, &previous, nullptr);
      context_.set(bridge_->getInstance("StarOffice.ComponentContext"), UNO_QUERY_THROW);
      desktop_ = css::frame::Desktop::create(context_);
      return;
    } catch (const css::uno::RuntimeException&) {
      if (attempt == 100) throw;
    } catch (const css::connection::NoConnectException&) {
      if (attempt == 100) throw;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

OfficeConnection::~OfficeConnection() {
  try {
    if (bridge_.is()) Reference<css::lang::XComponent>(bridge_, UNO_QUERY_THROW)->dispose();
  } catch (...) {
  }
}

Reference<css::frame::XModel> OfficeConnection::Model(const std::string& path) const {
  rtl::OUString url;
  osl::FileBase::getFileURLFromSystemPath(ToOUString(path), url);
  auto e = desktop_->getComponents()->createEnumeration();
  while (e->hasMoreElements()) {
    Reference<css::frame::XModel> model(e->nextElement(), UNO_QUERY);
    if (model.is() && model->getURL() == url) return model;
  }
  return {};
}

}  // namespace velt::testsupport
