#include "app/Translations.h"

#include "platform/system/AssetPaths.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace kelo {
namespace {

constexpr const char* kEnglishFile = "translations/kelocam_en.qm";

bool IsSet(const char* value) {
    return value && *value;
}

} // namespace

Language ChooseLanguage(const LocaleEnvironment& environment) {
    if (IsSet(environment.kelocamLang)) {
        if (std::strncmp(environment.kelocamLang, "zh", 2) == 0)
            return Language::Chinese;
        if (std::strncmp(environment.kelocamLang, "en", 2) == 0)
            return Language::English;
        // Anything else: as if it were not set.
    }
    // The order in which the C library looks for the messages' locale.
    for (const char* value : {environment.lcAll, environment.lcMessages, environment.lang}) {
        if (IsSet(value))
            return std::strncmp(value, "zh", 2) == 0 ? Language::Chinese : Language::English;
    }
    return Language::English;
}

LocaleEnvironment ProcessLocaleEnvironment() {
    return {std::getenv("KELOCAM_LANG"), std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
            std::getenv("LANG")};
}

std::string TranslationFile(Language language) {
    if (language == Language::Chinese)
        return {};
    return FindAsset(kEnglishFile);
}

InstalledTranslation::InstalledTranslation(Language language) : language_(language) {
    const QString qtTranslations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    qt_ = std::make_unique<QTranslator>();
    // Qt's own dialogs and buttons, where Debian's qt6-translations-l10n is installed; English
    // needs none.
    if (language == Language::Chinese &&
        qt_->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                  QStringLiteral("_"), qtTranslations))
        QCoreApplication::installTranslator(qt_.get());
    if (language == Language::Chinese)
        return;
    const std::string file = TranslationFile(language);
    if (file.empty())
        return; // FindAsset said which file is missing
    studio_ = std::make_unique<QTranslator>();
    if (!studio_->load(QString::fromStdString(file))) {
        std::fprintf(stderr, "kelocam: %s is not a translation; the texts stay Chinese\n",
                     file.c_str());
        studio_.reset();
        return;
    }
    QCoreApplication::installTranslator(studio_.get());
    active_ = true;
}

InstalledTranslation::~InstalledTranslation() {
    if (studio_)
        QCoreApplication::removeTranslator(studio_.get());
    if (qt_)
        QCoreApplication::removeTranslator(qt_.get());
}

} // namespace kelo
