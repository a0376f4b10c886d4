// veltexcel-browser: the telemetry browser alone, on a connection of its own, for trying the
// window against a TM server (or tmsim) before the main program shows it.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <cstdio>

#include "BrowserQSettings.h"
#include "BrowserWindow.h"
#include "tmaccess.h"

int main(int argc, char** argv) {
  CLI::App cli("The telemetry browser of VeltExcel on its own");
  std::string server;
  cli.add_option("--server", server, "the TM server, e.g. host\\TMS or 127.0.0.1:7227")->required();
  CLI11_PARSE(cli, argc, argv);

  QApplication app(argc, argv);
  velt::TmAccess tm;
  if (tm.tmaConnect(server, "$Excel$") == 0) {
    std::fprintf(stderr, "Нет связи с сервером!\n");
    return 3;
  }
  int status = 0;
  {
    velt::BrowserQSettings settings;
    velt::BrowserWindow window(tm, settings);
    window.ReloadClick();
    window.show();
    status = QApplication::exec();
  }
  tm.tmaDisconnect();
  return status;
}
