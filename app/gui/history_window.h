// "History": the station's recorded runs and saves, filtered by vehicle, one record's details
// beside the list. What it lists and shows comes from the core's history browser.
#pragma once

#include <QDialog>

#include "app/core/station_records.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace mz::gui {

class HistoryWindow : public QDialog {
    Q_OBJECT
public:
    HistoryWindow(const std::string& location, QWidget* parent = nullptr);

    QLineEdit* vehicleFilter() const { return filter_; }
    QTableWidget* records() const { return table_; }
    QPlainTextEdit* details() const { return details_; }
    // Opens the chosen record's certificate with the desktop's program for pages; enabled when
    // the record names one.
    QPushButton* openCertificateButton() const { return openCertificate_; }
    QLabel* problem() const { return problem_; }
    // The list again, for the vehicle in the filter (every record when it is empty).
    void reload();

private:
    void showRecord(int row);
    void openCertificate();
    void showProblem(const std::string& problem);

    core::HistoryBrowser browser_;
    QLineEdit* filter_;
    QTableWidget* table_;
    QPlainTextEdit* details_;
    QLabel* problem_;
    QPushButton* openCertificate_;
    std::vector<core::HistoryRow> rows_;  // as listed, row by row
};

}  // namespace mz::gui
