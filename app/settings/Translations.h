// Which language the studio speaks, and the translator that makes it so. The texts in the code
// are Chinese and are what a Chinese desktop shows; every other desktop gets the English
// translation (translations/kelocam_en.qm among the assets). KELOCAM_LANG=zh or en chooses.
//
// Window thread (or the headless main thread), once, after the application object exists.
#pragma once

#include <memory>
#include <QString>
#include <string>

class QTranslator;

namespace kelo {

enum class Language { Chinese, English };

// The locale variables as the C library reads them (null or empty: not set).
struct LocaleEnvironment {
    const char* kelocamLang = nullptr; // KELOCAM_LANG: "zh" or "en" force one
    const char* lcAll = nullptr;
    const char* lcMessages = nullptr;
    const char* lang = nullptr;
};

// KELOCAM_LANG when it names a language; else the first of LC_ALL, LC_MESSAGES, LANG that is set
// decides: a "zh" locale is Chinese, any other (C and POSIX included) English.
Language ChooseLanguage(const LocaleEnvironment& environment);
LocaleEnvironment ProcessLocaleEnvironment();

// The compiled translation of a language found among the assets; empty for Chinese (the texts
// themselves) and when it is missing (after a one-line warning).
std::string TranslationFile(Language language);

// Installs the translation of `language` into the running application and keeps it installed
// until the returned object goes. A missing file leaves the Chinese texts (warned once).
class InstalledTranslation {
public:
    explicit InstalledTranslation(Language language);
    ~InstalledTranslation();
    InstalledTranslation(const InstalledTranslation&) = delete;
    InstalledTranslation& operator=(const InstalledTranslation&) = delete;

    Language language() const { return language_; }
    // True when texts are translated (English found and loaded).
    bool Active() const { return active_; }

private:
    Language language_;
    bool active_ = false;
    std::unique_ptr<QTranslator> studio_;
    std::unique_ptr<QTranslator> qt_; // Qt's own texts (standard buttons) in the same language
};

// The engine's reason for a stopped capture or recording (engine/FileProblem.h) in the language
// installed: its words for a file problem and the folder after them ("磁盘空间不足（/home/ann）",
// "the disk is full (/home/ann)") translated; any other text (a device's own) as it is. Used by
// the window and the headless studio alike.
QString EngineReasonText(const std::string& reason);

} // namespace kelo
