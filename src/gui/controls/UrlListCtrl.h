#pragma once

#include <QTableWidget>

// The list of identified status pages: one column of paths, grid lines, whole-row selection.
class CUrlListCtrl : public QTableWidget {
    Q_OBJECT

public:
    explicit CUrlListCtrl(QWidget* parent = nullptr);

    // One column per heading of string 100 ("Path to status page;"), as wide as the control
    // less a scroll bar and 5 pixels. Screen readers name the list after its headings.
    void InitList();
    void AppendItem(const QString& text);
    int GetFirstSelected() const;
    QString GetItemText(int row) const;
    int GetItemCount() const { return rowCount(); }
    void DeleteAllItems() { setRowCount(0); }

Q_SIGNALS:
    void listClicked();
    void listDoubleClicked();
    void itemActivated(int row);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};
