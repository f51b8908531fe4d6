// The settings dialog (template 132): the folder for photos, the folder for recordings and the
// photo size. A folder is written to data.ini the moment it is chosen; the size only on Save;
// Cancel writes nothing more. The main window's settings button runs it modally.
#pragma once

#include "app/SettingsStore.h"
#include "ui/SkinnedDialog.h"

#include <string>

namespace kelo {

class SettingsDialog : public ui::SkinnedDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 132;
    // Controls of template 132.
    static constexpr int kPhotoFolderEdit = 1005;
    static constexpr int kChoosePhotoFolder = 1006;
    static constexpr int kRecordFolderEdit = 1007;
    static constexpr int kChooseRecordFolder = 1008;
    static constexpr int kFirstSizeButton = 1021; // 1021 ... 1025: sizes 0 ... 4

    explicit SettingsDialog(QWidget* parent = nullptr);

    // Index 0 to 4 of the chosen size button, -1 for none.
    int PhotoSizeChoice() const { return photoSizeChoice; }
    const std::string& SavedWorkingDirectory() const { return savedWorkingDirectory; }
    const std::string& SettingsPath() const { return settingsPath; }

    // Save: writes the chosen size ("WIDTH", then "HEIGHT"; nothing without a choice), then
    // ends the dialog with OK.
    void accept() override;

protected:
    void OnInitDialog() override;

private:
    // The message table: every command of the dialog arrives here.
    void OnCommand(int controlId);
    void ChooseFolder(int editId, SettingId key);
    void RestoreWorkingDirectory() const;

    int photoSizeChoice = -1;
    std::string savedWorkingDirectory; // the working directory when the dialog initialised
    std::string settingsPath;          // the settings store's settingsPath() at initialisation
};

} // namespace kelo
