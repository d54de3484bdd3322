#include "app/gui/history_window.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/gui/choosers.h"

namespace mz::gui {

HistoryWindow::HistoryWindow(const std::string& location, QWidget* parent)
    : QDialog(parent), browser_(location), filter_(new QLineEdit), table_(new QTableWidget),
      details_(new QPlainTextEdit), problem_(new QLabel), openCertificate_(new QPushButton("Open certificate")) {
    setObjectName("history");
    setWindowTitle("History");
    filter_->setObjectName("historyVehicle");
    filter_->setPlaceholderText("every vehicle");
    filter_->setToolTip("The vehicle identifier whose records to list (exactly as recorded); empty lists them all");
    auto* show = new QPushButton("Show");
    show->setObjectName("historyShow");
    show->setToolTip("List the records of the vehicle in the field");
    connect(show, &QPushButton::clicked, this, &HistoryWindow::reload);
    connect(filter_, &QLineEdit::returnPressed, this, &HistoryWindow::reload);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Vehicle"));
    top->addWidget(filter_, 1);
    top->addWidget(show);

    table_->setObjectName("historyRecords");
    table_->setToolTip("The recorded runs and saves, newest first; click one for its details");
    table_->setColumnCount(static_cast<int>(core::kHistoryColumns.size()));
    QStringList headers;
    for (const char* c : core::kHistoryColumns) headers << c;
    table_->setHorizontalHeaderLabels(headers);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(true);
    connect(table_, &QTableWidget::currentCellChanged, this, [this](int row) { showRecord(row); });

    details_->setObjectName("historyDetails");
    details_->setReadOnly(true);
    details_->setToolTip("Everything recorded of the chosen record: files and their checksums, poses, outcome");
    problem_->setObjectName("historyProblem");
    problem_->setWordWrap(true);
    problem_->setStyleSheet("color: #c00000");
    problem_->hide();

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(table_);
    split->addWidget(details_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    openCertificate_->setObjectName("historyOpenCertificate");
    openCertificate_->setToolTip("Open the calibration certificate written for the chosen record");
    openCertificate_->setEnabled(false);
    connect(openCertificate_, &QPushButton::clicked, this, &HistoryWindow::openCertificate);
    buttons->addButton(openCertificate_, QDialogButtonBox::ActionRole);
    buttons->button(QDialogButtonBox::Close)->setToolTip("Close the history");
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString("History file: %1").arg(QString::fromStdString(location))));
    layout->addLayout(top);
    layout->addWidget(problem_);
    layout->addWidget(split, 1);
    layout->addWidget(buttons);
    resize(dialogUnits(*this, 420, 300));
    reload();
}

void HistoryWindow::reload() {
    std::string error;
    rows_ = browser_.list(filter_->text().trimmed().toStdString(), error);
    const std::vector<core::HistoryRow>& rows = rows_;
    showProblem(error);
    table_->clearContents();
    table_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < table_->rowCount(); ++r) {
        const core::HistoryRow& row = rows[static_cast<size_t>(r)];
        table_->setVerticalHeaderItem(r, new QTableWidgetItem(QString::number(row.id)));
        for (int c = 0; c < table_->columnCount(); ++c) {
            auto* item = new QTableWidgetItem(QString::fromStdString(row.cells[static_cast<size_t>(c)]));
            item->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(row.id));
            table_->setItem(r, c, item);
        }
    }
    // From no row to the first, so the first is shown even where it was the current one before.
    table_->setCurrentCell(-1, -1);
    if (!rows.empty()) table_->setCurrentCell(0, 0);
}

void HistoryWindow::showProblem(const std::string& problem) {
    problem_->setText(QString::fromStdString(problem));
    problem_->setVisible(!problem.empty());
}

void HistoryWindow::showRecord(int row) {
    const QTableWidgetItem* item = row >= 0 ? table_->item(row, 0) : nullptr;
    openCertificate_->setEnabled(item && !rows_[static_cast<size_t>(row)].certificate.empty());
    if (!item) {
        details_->clear();
        return;
    }
    showProblem({});
    std::string error;
    const std::string text = browser_.details(item->data(Qt::UserRole).toLongLong(), error);
    details_->setPlainText(QString::fromStdString(error.empty() ? text : error));
}

void HistoryWindow::openCertificate() {
    const int row = table_->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
    const std::string& certificate = rows_[static_cast<size_t>(row)].certificate;
    std::string problem = core::HistoryBrowser::certificateProblem(certificate);
    if (problem.empty() && !QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(certificate)))) {
        problem = "No program of this desktop opens " + certificate + ".";
    }
    showProblem(problem);
}

}  // namespace mz::gui
