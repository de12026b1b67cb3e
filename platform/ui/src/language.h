// The operator's language: the program's own texts (Simplified Chinese), or
// a translation the program registered when the locale asks for its
// language. Texts are translated where the framework shows them.
#pragma once

#include <QString>
#include <string>
#include <vector>

class QCoreApplication;

namespace ui::detail {

// The language the locale asks for messages in: LC_ALL, else LC_MESSAGES,
// else LANG, the first that is set and not empty, up to its first '_', '.'
// or '@' ("en_US.UTF-8" -> "en"); "" for C, POSIX and none.
std::string localeLanguage(const char* lcAll, const char* lcMessages, const char* lang);

// The translation of a program text (CP936) in the operator's language, or
// the text itself (the same pointer) where there is none.
const char* translate(const char* source);
QString translate(const QString& source);

// A dialog's caption in the program's own words, where the shown one is a
// translation (a second copy looks for its window by those words).
inline constexpr char kSourceTitleProperty[] = "ui_source_title";

// The original texts of every translation registered (CP936).
std::vector<std::string> translatedTexts();

// Qt's own texts (an edit's context menu) in the operator's language.
void installQtTranslation(QCoreApplication* app);

}  // namespace ui::detail
