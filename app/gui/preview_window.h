// "Preview": the view canvas and the controls that adjust the calibration and the view settings.
// Every control forwards to the core's preview; values and enabled states come back from it.
#pragma once

#include <QMap>
#include <QWidget>

#include <array>
#include <map>

#include "app/core/session.h"
#include "app/core/station_records.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QGroupBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QToolButton;

namespace mz::gui {

class ColourButton;
class QtUi;
class ViewCanvas;

class PreviewWindow : public QWidget {
    Q_OBJECT
public:
    PreviewWindow(core::Session& session, QtUi& ui, QWidget* parent = nullptr);

    ViewCanvas* canvas() const { return canvas_; }
    QToolButton* adjustmentButton(core::Adjustment a) const { return adjust_[static_cast<int>(a)]; }
    QLineEdit* field(core::PreviewField f) const { return fields_.at(f); }
    QComboBox* maskType() const { return maskType_; }
    QListWidget* viewList() const { return viewList_; }
    QPushButton* loadCarImageButton() const { return loadCar_; }
    QPushButton* applyButton() const { return apply_; }
    QPushButton* parkingLineButton() const { return parkingLine_; }
    QCheckBox* overlayBlend() const { return overlayBlend_; }
    ColourButton* colourButton() const { return colour_; }
    QLineEdit* lutVersion(bool major) const { return major ? lutMajor_ : lutMinor_; }
    // The quality panel: verdict, camera and seam figures, warnings, the operator's adjustment.
    QGroupBox* qualityPanel() const { return quality_; }
    QLabel* verdict() const { return verdict_; }
    QTableWidget* cameraFigures() const { return cameraTable_; }
    QTableWidget* seamFigures() const { return seamTable_; }
    QLabel* qualityWarnings() const { return warnings_; }
    // The station profile's check of the solved poses; hidden without a profile.
    QLabel* profileCheck() const { return profileCheck_; }
    void setProfile(std::optional<station::StationProfile> profile, bool overrideOutside);
    QLabel* adjustment() const { return adjustment_; }
    QPushButton* undoButton() const { return undo_; }
    QPushButton* resetButton() const { return reset_; }
    QCheckBox* seamCheck() const { return seamCheck_; }
    // The bowl view's presets, by the names of core::kBowlPresets.
    QPushButton* bowlPreset(const QString& name) const { return bowlPresets_.value(name); }

    // The controls as the core's state says: values, enabled controls, view list.
    void refresh();

private:
    QLineEdit* addField(core::PreviewField f, core::PreviewControl control);
    void bring();
    QGroupBox* makeQualityPanel();
    QGroupBox* makeBowlPanel();
    // The window around the view at the view's own size, as far as the screen has room.
    void fitToView();
    void refreshQuality();
    void keepAboveOwner();

    core::Session& session_;
    QtUi& ui_;
    ViewCanvas* canvas_;
    std::array<QToolButton*, 8> adjust_{};
    std::map<core::PreviewField, QLineEdit*> fields_;
    std::map<QWidget*, core::PreviewControl> controls_;
    QComboBox* maskType_;
    QListWidget* viewList_;
    QPushButton* loadCar_;
    QPushButton* apply_;
    QPushButton* parkingLine_;
    QCheckBox* overlayBlend_;
    ColourButton* colour_;
    QLineEdit* lutMajor_;
    QLineEdit* lutMinor_;
    QGroupBox* quality_ = nullptr;
    QLabel* verdict_ = nullptr;
    QTableWidget* cameraTable_ = nullptr;
    QTableWidget* seamTable_ = nullptr;
    QLabel* warnings_ = nullptr;
    QLabel* profileCheck_ = nullptr;
    std::optional<station::StationProfile> profile_;
    bool overrideProfile_ = false;
    QLabel* adjustment_ = nullptr;
    QPushButton* undo_ = nullptr;
    QPushButton* reset_ = nullptr;
    QCheckBox* seamCheck_ = nullptr;
    QMap<QString, QPushButton*> bowlPresets_;
    QSize fittedView_;         // the view size the window was last fitted to
    QWidget* side_ = nullptr;  // the controls beside the canvas
};

}  // namespace mz::gui
