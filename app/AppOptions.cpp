#include "app/AppOptions.h"

#include <string>

#include "serial/PortAddress.h"

const char* AppUsage() {
  return "Usage: lds-tool [--port PORT] [--baud 115200|230400|460800] [--connect] [--diagnosis]\n"
         "                [--lang zh|en]\n"
         "Shows a rotating laser distance sensor's revolutions in a window.\n"
         "\n"
         "  --port PORT   fill the serial port box with PORT: a device path,\n"
         "                tcp://HOST:PORT or rfc2217://HOST:PORT\n"
         "  --baud N      choose the baud rate: 115200, 230400 (default) or 460800\n"
         "  --connect     connect to the port as soon as the window shows\n"
         "  --diagnosis   open the diagnosis view (显示 → 诊断) at start\n"
         "  --lang zh|en  interface language: zh (Chinese) or en (English)\n"
         "  --help        show this help\n"
         "\n"
         "Without --lang the window speaks the language last chosen in its menu\n"
         "(显示 → 语言 / Language), else follows the locale: English when the first of\n"
         "LC_ALL, LC_MESSAGES and LANG that is set starts with \"en\", Chinese otherwise.\n"
         "\n"
         "The window needs a display; lds-record records without one.\n";
}

AppOptions ParseAppOptions(const QStringList& args) {
  AppOptions o;
  bool portGiven = false;
  bool baudGiven = false;
  bool langGiven = false;
  for (int i = 0; i < args.size() && o.error.isEmpty(); ++i) {
    QString name = args[i];
    QString value;
    bool hasValue = false;
    const int eq = name.indexOf('=');
    if (name.startsWith("--") && eq > 0) {
      value = name.mid(eq + 1);
      name = name.left(eq);
      hasValue = true;
    }
    const bool takesValue = name == "--port" || name == "--baud" || name == "--lang";
    if (takesValue && !hasValue) {
      if (i + 1 >= args.size()) {
        o.error = "option " + name + " needs a value";
        break;
      }
      value = args[++i];
    } else if (!takesValue && hasValue) {
      o.error = "option " + name + " takes no value";
      break;
    }
    if (name == "--help" || name == "-h") {
      o.help = true;
    } else if (name == "--connect") {
      o.connect = true;
    } else if (name == "--diagnosis") {
      o.diagnosis = true;
    } else if (name == "--port") {
      PortAddress address;
      std::string invalid;
      if (portGiven || value.isEmpty())
        o.error = portGiven ? "--port given twice" : "--port needs a path";
      else if (!ParsePortAddress(value.toStdString(), address, invalid))
        o.error = "invalid port '" + value + "': " + QString::fromStdString(invalid);
      portGiven = true;
      o.port = value;
    } else if (name == "--baud") {
      if (baudGiven) o.error = "--baud given twice";
      baudGiven = true;
      o.baud = value.toInt();
      if (value != "115200" && value != "230400" && value != "460800")
        o.error = "invalid baud rate '" + value + "' (115200, 230400 or 460800)";
    } else if (name == "--lang") {
      if (langGiven) o.error = "--lang given twice";
      langGiven = true;
      o.language = value;
      if (value != "zh" && value != "en") o.error = "invalid language '" + value + "' (zh or en)";
    } else {
      o.error = "unknown option '" + args[i] + "'";
    }
  }
  if (o.error.isEmpty() && o.connect && o.port.isEmpty()) o.error = "--connect needs --port";
  return o;
}
