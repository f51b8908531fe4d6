// The settings dialog (template 132): the folder for photos, the folder for recordings, the
// photo size and the capture mode (size and rate). A folder is written to data.ini the moment
// it is chosen; the sizes and the rate only on Save; Cancel writes nothing more. Capture sizes
// and rates the selected camera does not offer are disabled. The main window's settings button runs
// it modally.
#pragma once

#include "app/settings/SettingsStore.h"
#include "platform/graph/VideoModeNegotiation.h"
#include "ui/SkinnedDialog.h"

#include <string>
#include <vector>

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
    static constexpr int kFirstSizeButton = 1021;      // 1021 ... 1025: sizes 0 ... 4
    static constexpr int kOriginalSizeButton = 1029;   // size 5, the frame as captured
    static constexpr int kFirstVideoSizeButton = 1031; // 1031 ... 1034: kVideoSizes
    static constexpr int kFirstRateButton = 1036;      // 1036, 1037: kVideoRates

    explicit SettingsDialog(QWidget* parent = nullptr);

    // The modes the selected camera offers (before DoModal); empty: every choice is enabled.
    void SetOfferedModes(std::vector<OfferedMode> modes) { offeredModes = std::move(modes); }

    // Index 0 to 5 of the chosen size button, -1 for none.
    int PhotoSizeChoice() const { return photoSizeChoice; }
    // Indices into kVideoSizes and kVideoRates, -1 for none.
    int VideoSizeChoice() const { return videoSizeChoice; }
    int RateChoice() const { return rateChoice; }
    // Whether Save stored a capture mode other than the one stored before.
    bool VideoModeChanged() const { return videoModeChanged; }
    const std::string& SavedWorkingDirectory() const { return savedWorkingDirectory; }
    const std::string& SettingsPath() const { return settingsPath; }

    // Save: writes the chosen size ("WIDTH", then "HEIGHT"; nothing without a choice), then the
    // capture mode when both its size and rate are chosen, then ends the dialog with OK.
    void accept() override;

protected:
    void OnInitDialog() override;

private:
    // The message table: every command of the dialog arrives here.
    void OnCommand(int controlId);
    void ChooseFolder(int editId, SettingId key);
    void RestoreWorkingDirectory() const;
    // Enables the capture sizes and rates the camera offers (rates: at the chosen size).
    void UpdateVideoChoices();
    bool Offers(int width, int height, int framesPerSecond) const;

    int photoSizeChoice = -1;
    int videoSizeChoice = -1;
    int rateChoice = -1;
    bool videoModeChanged = false;
    std::vector<OfferedMode> offeredModes;
    std::string savedWorkingDirectory; // the working directory when the dialog initialised
    std::string settingsPath;          // the settings store's settingsPath() at initialisation
};

} // namespace kelo
