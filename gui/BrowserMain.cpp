// veltexcel-browser: the telemetry browser alone, on a connection of its own, for trying the
// window against a TM server (or tmsim) before the main program shows it. Exit codes: 0 done,
// 2 bad arguments, 3 no connection to the TM server.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <cstdio>

#include "BrowserQSettings.h"
#include "BrowserWindow.h"
#include "QtTranslations.h"
#include "tmaccess.h"

int main(int argc, char** argv) {
  CLI::App cli("The telemetry browser of VeltExcel on its own");
  std::string server;
  cli.add_option("--server", server, "the TM server, e.g. host\\TMS or 127.0.0.1:7227")->required();
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // 0 for --help; bad arguments exit with 2, as the updater's do.
    return cli.exit(error) == 0 ? 0 : 2;
  }

  QApplication app(argc, argv);
  velt::InstallQtTranslations(app);
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
