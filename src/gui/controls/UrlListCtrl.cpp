#include "gui/controls/UrlListCtrl.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>

#include "core/text/StringTable.h"
#include "gui/text/Bytes.h"

CUrlListCtrl::CUrlListCtrl(QWidget* parent) : QTableWidget(0, 1, parent) {
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    connect(this, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { Q_EMIT itemActivated(index.row()); });
}

void CUrlListCtrl::InitList() {
    const int width = this->width() - style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 5;
    QStringList headings = LoadText(IDS_URL_COLUMNS).split(';');
    headings.removeLast();  // the text after the last ";" is not a heading
    setColumnCount(static_cast<int>(headings.size()));
    setHorizontalHeaderLabels(headings);
    setAccessibleName(headings.join(QStringLiteral(", ")));
    for (int column = 0; column < headings.size(); ++column) {
        horizontalHeaderItem(column)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setColumnWidth(column, width);
    }
}

void CUrlListCtrl::AppendItem(const QString& text) {
    const int row = rowCount();
    insertRow(row);
    setItem(row, 0, new QTableWidgetItem(text));
}

int CUrlListCtrl::GetFirstSelected() const {
    for (int row = 0; row < rowCount(); ++row) {
        if (item(row, 0) != nullptr && item(row, 0)->isSelected()) {
            return row;
        }
    }
    return -1;
}

QString CUrlListCtrl::GetItemText(int row) const {
    const QTableWidgetItem* cell = item(row, 0);
    return cell != nullptr ? cell->text() : QString();
}

void CUrlListCtrl::keyPressEvent(QKeyEvent* event) {
    QTableWidget::keyPressEvent(event);
    // The view reports Enter on a row as its activation but lets the key go on to the dialog,
    // whose default button would then close the window as well.
    const bool bEnter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (bEnter && currentIndex().isValid()) {
        event->accept();
    }
}

void CUrlListCtrl::mouseReleaseEvent(QMouseEvent* event) {
    QTableWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) {
        Q_EMIT listClicked();
    }
}

void CUrlListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        Q_EMIT listDoubleClicked();
    }
}
