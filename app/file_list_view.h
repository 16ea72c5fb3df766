#pragma once

#include <QTreeWidget>
#include <QUrl>
#include <vector>

#include "readers/source_type.h"

namespace kestrune {

// One row of the file list; it owns its file's entry.
class FileRow : public QTreeWidgetItem {
public:
    explicit FileRow(const SourceFileEntry& entry);

    SourceFileEntry& Entry() { return entry_; }
    const SourceFileEntry& Entry() const { return entry_; }

    // Compares by the sort column's text, the way that column sorts.
    bool operator<(const QTreeWidgetItem& other) const override;

    // What the list's duplicate index knows the row by.
    const std::string& ListKey() const { return listKey_; }
    void SetListKey(std::string key) { listKey_ = std::move(key); }

private:
    SourceFileEntry entry_;
    std::string listKey_;
};

// The list of source files: seven columns, full rows, several rows selectable, sorted by a
// click on a column header (a second click on the same column reverses the order).
class FileListView : public QTreeWidget {
    Q_OBJECT
public:
    enum Column { kFile, kDuration, kBitRate, kSampleRate, kChannels, kVolume, kOutput };
    enum class SortType { Text, Number, MinutesSeconds };
    static constexpr int kColumnCount = 7;
    static SortType SortTypeOf(int column);
    // Compares two cell texts of a column: negative, 0 or positive.
    static int CompareTexts(SortType type, const QString& a, const QString& b);

    explicit FileListView(QWidget* parent = nullptr);

    // Appends a row for entry at the end of the list and scrolls it into view. Scrolling lays
    // the whole list out again, so a run that adds many rows scrolls once in a while instead.
    FileRow* InsertFileRow(const SourceFileEntry& entry, bool scroll = true);
    int RowCount() const { return topLevelItemCount(); }
    FileRow* Row(int index) const;
    int IndexOf(const FileRow* row) const;
    // The selected rows, in list order.
    std::vector<FileRow*> SelectedRows() const;
    // Selects every row and takes the keyboard focus.
    void SelectAllRows();
    // What a click on the header of column does.
    void SortByColumn(int column);
    int SortColumn() const { return sortColumn_ < 0 ? 0 : sortColumn_; }
    // The column the list is sorted by, or -1 when it is in the order rows were added or moved.
    int SortedColumn() const { return sortColumn_; }
    Qt::SortOrder SortOrder() const { return sortOrder_; }
    // Sorts by column in order (column -1: no sort is shown); as a restart restores it.
    void SetSort(int column, Qt::SortOrder order);
    // Widens the columns of short values whose cells would be cut (a larger font).
    void FitValueColumns();
    // Sorts the rows again by the shown sort, after rows were added.
    void Resort();
    // The columns' widths as "206,70,...", and back; a text that does not hold a width for
    // every column leaves them as they are.
    QString ColumnWidthsText() const;
    void SetColumnWidthsText(const QString& text);
    // Moves the selected rows one place up (delta -1) or down (+1), as a block.
    void MoveSelected(int delta);
    // Moves the selected rows, in their order, to stand before the row at index (at the end
    // when index is the row count).
    void MoveSelectedTo(int index);

signals:
    // The list menu is asked for at a global position: the mouse's, or the list's centre when
    // it was asked for from the keyboard.
    void menuRequested(const QPoint& globalPos);
    // Files or folders from elsewhere were dropped on the list.
    void urlsDropped(const QList<QUrl>& urls);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // True for a drag of this list's own rows (not another program's, nor another window's).
    bool IsOwnRows(const QMimeData* mime) const;
    // Answers a drag over the list: a move of our own rows, an add of files, or a refusal.
    void AnswerDrag(QDragMoveEvent* event);
    // Where a drop at pos puts the moved rows, as MoveSelectedTo's index.
    int DropIndex(const QPoint& pos) const;
    void ForgetSortOrder();
    // Widens each column whose title would be cut.
    void FitHeaders();

    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

}  // namespace kestrune
