#pragma once

#include <QString>
#include <QTranslator>

class QMenu;
class StatusLine;

// The window speaks one language at a time. Chinese is the language of the
// source texts; English comes from our own translation file. Qt's standard
// dialogs (file, input, message boxes) follow through Qt's own translations.
enum class Language { Chinese, English };

// "zh" or "en"; false for anything else.
bool ParseLanguage(const QString& code, Language* language);
QString LanguageCode(Language language);

// English for locale names that start with "en", Chinese for every other one
// (including "C" and "POSIX", so that machines without a locale see no change).
Language LanguageForLocale(const QString& localeName);

// The language to start in: the command line's choice when given, else the
// one saved from the menu, else the system locale (the first of LC_ALL,
// LC_MESSAGES and LANG that is set, or Qt's idea of the system locale).
Language ChooseLanguage(const QString& commandLine);

// Loads and installs the translations of one language for as long as the
// object lives. Needs the application object. A translation file that cannot
// be found leaves Qt's built-in English in its place, silently.
class Translators {
 public:
  explicit Translators(Language language);
  ~Translators();
  Translators(const Translators&) = delete;
  Translators& operator=(const Translators&) = delete;

 private:
  QTranslator qt;
  QTranslator app;
};

// The language the installed translators speak (Chinese when none are).
Language ActiveLanguage();

// Adds the submenu 语言 / Language with one checkable entry per language to
// `menu`. A choice is saved for the next start and announced as the status line's note.
void AddLanguageMenu(QMenu* menu, StatusLine* status);
