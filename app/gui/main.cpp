// calibration: the desktop program. Options only pre-fill the choosers; the operator still
// presses every button.
#include <QApplication>
#include <QCommandLineParser>

#include "app/gui/main_window.h"
#include "app/gui/qt_ui.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName("Ovantis");
    QApplication::setApplicationName("Calibration Tool");
    QApplication::setApplicationVersion(
        QString("%1.%2.%3").arg(MZ_VERSION_MAJOR).arg(MZ_VERSION_MINOR).arg(MZ_VERSION_PATCH));

    QCommandLineParser parser;
    parser.setApplicationDescription("Surround-view camera calibration: Config Load, Image Load, Apply AVM, Save LUT.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption config("config", "Offer FILE in the \"Config Load\" window.", "FILE");
    const QCommandLineOption data("data", "Offer DIR in the \"Image Load\" and \"Data Save\" windows.", "DIR");
    parser.addOption(config);
    parser.addOption(data);
    parser.process(app);

    mz::gui::QtUi ui;
    ui.setInitialConfiguration(parser.value(config).toStdString());
    ui.setInitialFolder(parser.value(data).toStdString());
    mz::core::SessionOptions options;
    options.programVersion = {MZ_VERSION_MAJOR, MZ_VERSION_MINOR, MZ_VERSION_PATCH};
    mz::gui::MainWindow window(ui, options);
    window.show();
    return app.exec();
}
