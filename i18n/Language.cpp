#include "Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTranslator>

std::optional<UiLanguage> languageNamed(const QString& name) {
    // "en", "en_US", "en_US.UTF-8", "en@euro", "en-GB"
    const QString lang = name.section(QRegularExpression(QStringLiteral("[_.@-]")), 0, 0);
    if (lang.compare(QLatin1String("en"), Qt::CaseInsensitive) == 0)
        return UiLanguage::English;
    if (lang.compare(QLatin1String("ja"), Qt::CaseInsensitive) == 0)
        return UiLanguage::Japanese;
    return std::nullopt;
}

UiLanguage chooseLanguage(const QString& option,
                          const std::function<QByteArray(const char*)>& env) {
    if (!option.isEmpty())
        return languageNamed(option).value_or(UiLanguage::Japanese);
    const QString list = QString::fromLocal8Bit(env("LANGUAGE"));
    for (const QString& entry : list.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (const auto found = languageNamed(entry))
            return *found;
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString locale = QString::fromLocal8Bit(env(var));
        if (!locale.isEmpty())
            return languageNamed(locale).value_or(UiLanguage::Japanese);
    }
    return UiLanguage::Japanese;
}

bool installLanguage(UiLanguage language) {
    static QTranslator english;
    static QTranslator qtJapanese;
    QCoreApplication::removeTranslator(&english);
    QCoreApplication::removeTranslator(&qtJapanese);
    if (language == UiLanguage::Japanese) {
        // Qt's own dialogs (the file dialog, the buttons of a Yes/No box)
        // speak English unless given their Japanese; without the package
        // that holds it they stay English and the window's texts do not.
        if (qtJapanese.load(QStringLiteral("qtbase_ja"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&qtJapanese);
        return true;
    }
    if (!english.load(QStringLiteral(":/i18n/korvane_en.qm")))
        return false;
    return QCoreApplication::installTranslator(&english);
}
