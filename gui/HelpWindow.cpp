#include "HelpWindow.h"

#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>

#include <QVBoxLayout>
#include <algorithm>

namespace velt {

const std::array<const char*, 43> HelpWindow::kLines = {
    "Для нормальной работы программа должна находиться ",
    "в каталоге запуска Клиента \"ВЕЛТ Диспетчер\".",
    "Сервер ТМ в поле \"Сервер\": узел:порт\\ИМЯ, например localhost:7227\\TMS",
    "",
    "Данные помещаются в лист с названием \"ВЕЛТ\"",
    "Не допускается пропусков строк с данными телеметрии",
    "ВНИМАНИЕ ! Не используйте этот лист книги для оформления ",
    "данных - он служит только для получения данных из базы ВЕЛТ.",
    "",
    "В первой колонке указывается тип данных телемеханики ",
    "по обычной спецификации - ",
    "#ТТх:хх:ххх    - значение аналоговых измерений",
    "#ТСх:хх:ххх    - значение телесигнализации",
    "#ТИх:хх:ххх    - значение число-импульсных измерений",
    "",
    "где х:хх:ххх - адрес параметра - Канал:КП:Обьект",
    "",
    "Вторую колонку можно использовать для названий телепара-",
    "метров.",
    "",
    "В четвертую колонку для запросов ТИТ и ТС будет складываться ",
    "запрошенные значения ( для ТИТ в именованых единицах, для",
    "ТС значение 0/1 соответствующее Отключено/Включено)",
    "Для параметра ТИИ в четвертую колонку будет помещаться ",
    "значение приведенной мощности, в пятую показания прибора ",
    "учета.",
    "",
    "Для запроса данных из архива с четвертой колонки и далее нужно",
    "указывать дату и время выборки из архива (т.е. количество ",
    "занимаемых  колонок = количеству запрашиваемых срезов), ",
    "данные из архива будут выданы в следующей строчке под ",
    "временами. третья колонка служит для указания номера ",
    "архива ТИТ.",
    "",
    "Более наглядно данные из архива можно получить с помощью",
    "команд RETRO и XRETRO (см.пример). ",
    "",
    "В случае невозможности выполнить запрос - вместо данных",
    "будет помещено \"Н\\Д\".",
    "",
    "ВНИМАНИЕ!",
    "Не рекомендуется заниматься редактированием Книги Excel",
    "в момент обновления данных из сервера ВЕЛТ."};

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("TForm2"));
  setWindowTitle(QStringLiteral("Справка"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);

  auto* header = new QLabel(QStringLiteral("  Программа экспорта телеметрии в EXCEL"), this);
  header->setObjectName(QStringLiteral("Header"));
  QFont headerFont = header->font();
  headerFont.setBold(true);
  headerFont.setItalic(true);
  headerFont.setPointSizeF(headerFont.pointSizeF() * 1.35);
  header->setFont(headerFont);
  header->setContentsMargins(4, 8, 4, 8);

  text_ = new QPlainTextEdit(this);
  text_->setObjectName(QStringLiteral("Memo1"));
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QStringList lines;
  for (const char* line : kLines) lines << QString::fromUtf8(line);
  text_->setPlainText(lines.join(QLatin1Char('\n')));
  // The lines were laid out for this window's width: a font that fits them spares the
  // sideways scrolling.
  QFont textFont = text_->font();
  if (textFont.pointSizeF() <= 0) textFont.setPointSize(9);
  const int room = kClientWidth - 2 * 6 - 2 * text_->frameWidth() - 16 -
                   text_->verticalScrollBar()->sizeHint().width();
  auto widest = [&lines](const QFont& font) {
    const QFontMetrics metrics(font);
    int width = 0;
    for (const QString& line : lines) width = std::max(width, metrics.horizontalAdvance(line));
    return width;
  };
  while (textFont.pointSizeF() > 7.0 && widest(textFont) > room)
    textFont.setPointSizeF(textFont.pointSizeF() - 0.5);
  text_->setFont(textFont);

  auto* footer =
      new QLabel(QStringLiteral("ВЕЛТ-Excel для Linux · LibreOffice Calc и сервер ТМ"), this);
  footer->setObjectName(QStringLiteral("Footer"));
  footer->setAlignment(Qt::AlignCenter);
  footer->setFrameShape(QFrame::StyledPanel);
  footer->setContentsMargins(4, 4, 4, 4);
  QFont footerFont = footer->font();
  footerFont.setPointSizeF(footerFont.pointSizeF() * 0.9);
  footer->setFont(footerFont);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 4, 6, 6);
  layout->setSpacing(4);
  layout->addWidget(header);
  layout->addWidget(text_, 1);
  layout->addWidget(footer);
}

void HelpWindow::Present() {
  show();
  raise();
  activateWindow();
}

QString HelpWindow::Text() const {
  return text_->toPlainText();
}

}  // namespace velt
