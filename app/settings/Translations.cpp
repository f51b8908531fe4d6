#include "app/settings/Translations.h"

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

// The engine's words for a file problem (engine/FileProblem.cpp stays without Qt): a new one
// there needs its line here.
constexpr const char* kFileProblemTexts[] = {QT_TRANSLATE_NOOP("kelo::MainDialog", "文件夹不存在"),
                                             QT_TRANSLATE_NOOP("kelo::MainDialog", "磁盘空间不足"),
                                             QT_TRANSLATE_NOOP("kelo::MainDialog", "没有写入权限")};
// How the engine puts the folder after the problem.
constexpr const char* kProblemAndFolder = QT_TRANSLATE_NOOP("kelo::MainDialog", "%1（%2）");

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

namespace kelo {

QString EngineReasonText(const std::string& reason) {
    const QString text = QString::fromStdString(reason);
    for (const char* problem : kFileProblemTexts) {
        const QString source = QString::fromUtf8(problem);
        if (!text.startsWith(source))
            continue;
        const QString problemText = QCoreApplication::translate("kelo::MainDialog", problem);
        const QString rest = text.mid(source.size());
        const QString open = QStringLiteral("（");
        const QString close = QStringLiteral("）");
        if (rest.startsWith(open) && rest.endsWith(close) &&
            rest.size() >= open.size() + close.size())
            return QCoreApplication::translate("kelo::MainDialog", kProblemAndFolder)
                .arg(problemText, rest.mid(open.size(), rest.size() - open.size() - close.size()));
        return problemText + rest;
    }
    return text;
}

} // namespace kelo
