// calibration: the desktop program. Options only pre-fill the choosers and the station fields and
// say where saves are recorded; the operator still presses every button.
#include <QApplication>
#include <QCommandLineParser>
#include <QLineEdit>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/gui/main_window.h"
#include "app/gui/qt_ui.h"
#include "format/file_read.h"
#include "station/profile.h"

namespace {

void name() {
    QCoreApplication::setOrganizationName("Ovantis");
    QCoreApplication::setApplicationName("Calibration Tool");
    QCoreApplication::setApplicationVersion(
        QString("%1.%2.%3").arg(MZ_VERSION_MAJOR).arg(MZ_VERSION_MINOR).arg(MZ_VERSION_PATCH));
}

bool asksForText(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "-h" || a == "--help" || a == "--help-all" || a == "-v" || a == "--version" || a == "-?") return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // Help and version are answered without opening the window system: no display is needed.
    std::unique_ptr<QCoreApplication> app;
    if (asksForText(argc, argv)) app = std::make_unique<QCoreApplication>(argc, argv);
    else app = std::make_unique<QApplication>(argc, argv);
    name();

    QCommandLineParser parser;
    parser.setApplicationDescription("Surround-view camera calibration: Config Load, Image Load, Apply AVM, Save LUT.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption config("config", "Offer FILE in the \"Config Load\" window.", "FILE");
    const QCommandLineOption data("data", "Offer DIR in the \"Image Load\" and \"Data Save\" windows.", "DIR");
    const QCommandLineOption history("history",
                                     "Record every Save LUT in the station history FILE (default: "
                                     "$XDG_DATA_HOME/avm-calibration/history.sqlite, as calibration-cli).",
                                     "FILE");
    const QCommandLineOption noHistory("no-history", "Record nothing in a station history.");
    const QCommandLineOption station("station", "Fill the \"Station\" field with NAME.", "NAME");
    const QCommandLineOption operatorName("operator", "Fill the \"Operator\" field with NAME.", "NAME");
    const QCommandLineOption profile("profile",
                                     "Hold every save's solved poses to the station profile FILE: a camera outside its "
                                     "tolerances refuses the save.",
                                     "FILE");
    const QCommandLineOption overrideProfile("override-profile",
                                             "Save although a camera is outside the profile (the history says so).");
    for (const QCommandLineOption& o :
         {config, data, history, noHistory, station, operatorName, profile, overrideProfile})
        parser.addOption(o);
    parser.process(*app);
    // A broken profile stops the program before the window opens, as it stops calibration-cli run.
    std::optional<mz::station::StationProfile> stationProfile;
    if (parser.isSet(profile)) {
        const std::string file = parser.value(profile).toStdString();
        try {
            stationProfile = mz::station::parseProfile(mz::format::readTextFile(file), file);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "calibration: %s\n", e.what());
            return 2;
        }
    }

    mz::gui::QtUi ui;
    ui.setInitialConfiguration(parser.value(config).toStdString());
    ui.setInitialFolder(parser.value(data).toStdString());
    mz::core::SessionOptions options;
    options.programVersion = {MZ_VERSION_MAJOR, MZ_VERSION_MINOR, MZ_VERSION_PATCH};
    mz::gui::MainWindow window(ui, options);
    window.setHistoryPlace({parser.value(history).toStdString(), parser.isSet(noHistory)});
    window.setProfile(stationProfile, parser.isSet(overrideProfile));
    window.identityField(mz::core::IdentityField::kStation)->setText(parser.value(station));
    window.identityField(mz::core::IdentityField::kOperator)->setText(parser.value(operatorName));
    window.show();
    return app->exec();
}
