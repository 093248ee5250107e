#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// The language of the window. Japanese is the program's own; English comes
// from the translation embedded in the program.
enum class UiLanguage { Japanese, English };

// "en", "ja" and locale names such as "en_GB.UTF-8"; nothing for any other.
std::optional<UiLanguage> languageNamed(const QString& name);

// What the operator asked for: --lang (option, empty when not given) first,
// then the environment's message language. LANGUAGE is a list; its first
// entry in a language we have decides. Otherwise the first of LC_ALL,
// LC_MESSAGES and LANG that is set decides, and only English moves away from
// Japanese: a plain "C" or "POSIX" locale, or one of a language without a
// translation, keeps the program's own Japanese.
UiLanguage chooseLanguage(const QString& option,
                          const std::function<QByteArray(const char*)>& env = qgetenv);

// Puts the window's texts in that language from here on (texts made before
// keep theirs). False when the translation cannot be loaded.
bool installLanguage(UiLanguage language);
