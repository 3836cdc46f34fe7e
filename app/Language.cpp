#include "app/Language.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QSettings>
#include <cstdio>

#include "app/AppSettings.h"
#include "app/StatusLine.h"

// The English translation is compiled into the program (lds_translations.qrc),
// so a build runs in English from its own folder too.
static void InitTranslationResource() { Q_INIT_RESOURCE(lds_translations); }

namespace {

const char kOrganisation[] = "lds-tool";
const char kApplication[] = "lds-tool";
const char kLanguageKey[] = "language";

Language active = Language::Chinese;

}  // namespace

bool ParseLanguage(const QString& code, Language* language) {
  if (code != "zh" && code != "en") return false;
  *language = code == "en" ? Language::English : Language::Chinese;
  return true;
}

QString LanguageCode(Language language) { return language == Language::English ? "en" : "zh"; }

Language LanguageForLocale(const QString& localeName) {
  return localeName.startsWith("en") ? Language::English : Language::Chinese;
}

Language ChooseLanguage(const QString& commandLine) {
  Language language = Language::Chinese;
  if (ParseLanguage(commandLine, &language)) return language;

  const QString saved = QSettings(kOrganisation, kApplication).value(kLanguageKey).toString();
  if (ParseLanguage(saved, &language)) return language;
  if (!saved.isEmpty())
    std::fprintf(stderr, "lds-tool: ignoring the saved language '%s' (zh or en); following the locale\n",
                 qPrintable(saved));

  // POSIX order: LC_ALL overrides LC_MESSAGES, which overrides LANG.
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const QString value = QString::fromLocal8Bit(qgetenv(variable));
    if (!value.isEmpty()) return LanguageForLocale(value);
  }
  return LanguageForLocale(QLocale::system().name());
}

Translators::Translators(Language language) {
  if (language == Language::Chinese) {
    // Qt's own texts: the buttons and labels of the standard dialogs.
    if (qt.load(QLocale(QLocale::Chinese, QLocale::China), "qtbase", "_",
                QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
      QCoreApplication::installTranslator(&qt);
  } else {
    // An installed file first, so that a corrected translation can be
    // dropped in without a rebuild; then the copy compiled into the program.
    InitTranslationResource();
    const QString installed = QCoreApplication::applicationDirPath() + "/../share/lds-tool/translations";
    if (app.load("lds-tool_en", installed) || app.load("lds-tool_en", ":/translations"))
      QCoreApplication::installTranslator(&app);
  }
  active = language;
}

Translators::~Translators() {
  QCoreApplication::removeTranslator(&app);
  QCoreApplication::removeTranslator(&qt);
  active = Language::Chinese;
}

Language ActiveLanguage() { return active; }

void AddLanguageMenu(QMenu* menu, StatusLine* status) {
  menu->addSeparator();
  QMenu* languages = menu->addMenu(QCoreApplication::translate("Language", "语言 / Language"));
  languages->setObjectName("languageMenu");
  auto* group = new QActionGroup(languages);
  // Each language is named, and its choice confirmed, in that language, so
  // that a reader of either one can find and follow it.
  const struct {
    Language language;
    const char* name;
    const char* objectName;
    const char* confirmation;
  } entries[] = {
      {Language::Chinese, "中文", "actionLanguageChinese", "界面语言：中文（下次启动时生效）"},
      {Language::English, "English", "actionLanguageEnglish", "Interface language: English (from the next start)"},
  };
  for (const auto& e : entries) {
    QAction* action = languages->addAction(QString::fromUtf8(e.name));
    action->setObjectName(e.objectName);
    action->setCheckable(true);
    action->setChecked(e.language == ActiveLanguage());
    group->addAction(action);
    const QString confirmation = QString::fromUtf8(e.confirmation);
    QObject::connect(action, &QAction::triggered, status, [status, language = e.language, confirmation] {
      QString error;
      if (AppSettings::SaveLanguage(language, &error)) {
        status->SetNote(confirmation);
        return;
      }
      const QString file = AppSettings::FileName();
      qWarning("lds-tool: the language could not be saved to %s: %s", qPrintable(file), qPrintable(error));
      status->SetNote(QCoreApplication::translate("Language", "无法保存语言选择 %1：%2").arg(file, error));
    });
  }
}
