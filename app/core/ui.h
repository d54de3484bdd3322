// What the workflow asks of the operator's side: the desktop windows, the terminal, or a test.
//
// The core decides every message, title and state; an implementation only shows them and returns
// the operator's answers. Calls come from the user-interface thread, except redrawImageView,
// which the detection thread makes: an implementation re-posts it to its own thread.
#pragma once

#include <optional>
#include <string>

namespace mz::core {

inline constexpr const char* kAppTitle = "Ovantis Calibration Tool";

enum class MessageIcon { kError, kInformation, kWarning };

enum class Button { kConfigLoad, kImageLoad, kApplyAvm, kSaveLut, kExit };

// How far the operator has got, shown by each workflow button's set of pictures:
// Config Load  kInitial, then kDone after a configuration was read (pictures 163, 144, 145);
// Image Load   kInitial, then kDone after images were loaded (164, 148, 149);
// Apply AVM    kInitial, kReady once images are loaded (142, 141, 142), kDone once pressed
//              (162, 141, 142).
enum class ButtonLook { kInitial, kReady, kDone };

// The drive chooser serves image loading and saving; the caller names its window, label and button.
struct FolderChooserTexts {
    std::string title;
    std::string label;
    std::string button;
};

inline const FolderChooserTexts kImageLoadChooser{"Image Load", "Image File", "Load"};
inline const FolderChooserTexts kDataSaveChooser{"Data Save", "LUT File", "Save"};

struct FileChooserRequest {
    std::string title;
    std::string filter;  // "Description|pattern|..." as the system writes it
    std::string defaultExtension;
};

// The session passes every call through its MessageRecorder: a call added here is added there too.
class Ui {
public:
    virtual ~Ui() = default;

    virtual void showMessage(const std::string& text, const std::string& title, MessageIcon icon) = 0;
    // A message whose fixed text leaves out what in particular went wrong (the camera, the file, the
    // sizes): the detail goes below it where the operator's side has room for it.
    virtual void showDetailedMessage(const std::string& text, const std::string& title, MessageIcon icon,
                                     const std::string& /*detail*/) {
        showMessage(text, title, icon);
    }

    // The "Config Load" window, opened with the last path. Empty when it was closed without "Load".
    virtual std::optional<std::string> chooseConfiguration(const std::string& lastPath) = 0;
    // The drive chooser, pre-set to the current folder. Empty unless its button confirmed.
    virtual std::optional<std::string> chooseFolder(const FolderChooserTexts& texts,
                                                    const std::string& currentFolder) = 0;
    virtual std::optional<std::string> chooseFile(const FileChooserRequest& request) = 0;
    // A yes/no question; the terminal and scripts, which cannot be asked, go on.
    virtual bool confirm(const std::string& /*text*/, const std::string& /*title*/) { return true; }

    // The progress window: shown without taking the focus, position 0 to 100.
    virtual void showProgress() = 0;
    virtual void setProgressStatus(const std::string& text) = 0;
    virtual void setProgressPosition(double percent) = 0;
    virtual void hideProgress() = 0;

    virtual void setTitle(const std::string& title) = 0;
    virtual void setButtonLook(Button button, ButtonLook look) = 0;
    virtual void focusButton(Button /*button*/) {}

    // Image view of camera 0..3 (front, rear, left, right) has new points or pixels.
    virtual void redrawImageView(int /*camera*/) {}
    virtual void showImageViews() {}
    // The detection pass has ended (made by the detection thread, after its last redraw).
    virtual void detectionFinished() {}

    // The preview window: brought up on top of everything, its view rebuilt, or its fields,
    // enabled controls or view list changed.
    virtual void showPreview() {}
    virtual void previewViewUpdated() {}
    virtual void previewStateChanged() {}
};

// Caption of the progress window at a position: "title [50%]", the percentage rounded.
std::string progressCaption(const std::string& title, double percent);

}  // namespace mz::core
