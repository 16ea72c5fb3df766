#include "app/file_list_view.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QStyle>
#include <algorithm>

namespace kestrune {

namespace {

struct ColumnSpec {
    const char* header;
    int width;
    bool rightAligned;
    FileListView::SortType sort;
};

constexpr ColumnSpec kColumns[FileListView::kColumnCount] = {
    {"File", 206, false, FileListView::SortType::Text},
    {"Duration", 70, true, FileListView::SortType::MinutesSeconds},
    {"Bit Rate", 80, true, FileListView::SortType::Number},
    {"Sample Rate", 85, true, FileListView::SortType::Number},
    {"Channels", 75, true, FileListView::SortType::Text},
    {"Volume", 70, true, FileListView::SortType::Text},
    {"Output", 200, false, FileListView::SortType::Text},
};

// The list's own rows on the move: the payload names the process, so another window's rows are
// never taken for ours.
constexpr const char* kRowsMimeType = "application/x-kestrune-rows";

QByteArray ProcessToken() {
    return QByteArray::number(QCoreApplication::applicationPid());
}

// The decimal number a text starts with (after blanks and a sign); 0 when there is none.
long long LeadingNumber(const QString& text) {
    int i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i].isDigit(); ++i)
        value = value * 10 + text[i].digitValue();
    return negative ? -value : value;
}

// A duration shown as "mm:ss" or "h:mm:ss", in seconds. Every field counts, so an hour-long
// file sorts after a 59-minute one.
long long DurationSeconds(const QString& text) {
    long long seconds = 0;
    for (const QString& field : text.split(u':'))
        seconds = seconds * 60 + LeadingNumber(field);
    return seconds;
}

}  // namespace

FileRow::FileRow(const SourceFileEntry& entry) : entry_(entry) {
    const ColumnTexts texts = ColumnTextsOf(entry_);
    setText(FileListView::kFile, QString::fromStdString(texts.file));
    setText(FileListView::kDuration, QString::fromStdString(texts.duration));
    setText(FileListView::kBitRate, QString::fromStdString(texts.bitRate));
    setText(FileListView::kSampleRate, QString::fromStdString(texts.sampleRate));
    setText(FileListView::kChannels, QString::fromStdString(texts.channels));
    for (int column = 0; column < FileListView::kColumnCount; ++column)
        if (kColumns[column].rightAligned)
            setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    setToolTip(FileListView::kFile, QString::fromLocal8Bit(entry_.path));
}

bool FileRow::operator<(const QTreeWidgetItem& other) const {
    const auto* list = static_cast<const FileListView*>(treeWidget());
    const int column = list ? list->SortColumn() : 0;
    return FileListView::CompareTexts(FileListView::SortTypeOf(column), text(column),
                                      other.text(column)) < 0;
}

FileListView::SortType FileListView::SortTypeOf(int column) {
    return column >= 0 && column < kColumnCount ? kColumns[column].sort : SortType::Text;
}

int FileListView::CompareTexts(SortType type, const QString& a, const QString& b) {
    switch (type) {
        case SortType::Number: {
            const long long x = LeadingNumber(a), y = LeadingNumber(b);
            return x < y ? -1 : x > y ? 1 : 0;
        }
        case SortType::MinutesSeconds: {
            const long long x = DurationSeconds(a), y = DurationSeconds(b);
            return x < y ? -1 : x > y ? 1 : 0;
        }
        case SortType::Text:
            break;
    }
    return QString::localeAwareCompare(a, b);
}

FileListView::FileListView(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(kColumnCount);
    QStringList headers;
    for (const ColumnSpec& c : kColumns)
        headers << QString::fromLatin1(c.header);
    setHeaderLabels(headers);
    for (int column = 0; column < kColumnCount; ++column) {
        setColumnWidth(column, kColumns[column].width);
        if (kColumns[column].rightAligned)
            headerItem()->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    }
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSortingEnabled(false);  // rows stay where they were added until a header is clicked
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(false);
    connect(header(), &QHeaderView::sectionClicked, this, &FileListView::SortByColumn);
    setAccessibleName(QStringLiteral("Files"));
    // Rows are reordered by dragging them; files dropped from elsewhere are added.
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    FitHeaders();
}

FileRow* FileListView::InsertFileRow(const SourceFileEntry& entry, bool scroll) {
    auto* row = new FileRow(entry);
    addTopLevelItem(row);
    if (scroll)
        scrollToItem(row);
    return row;
}

FileRow* FileListView::Row(int index) const {
    return static_cast<FileRow*>(topLevelItem(index));
}

int FileListView::IndexOf(const FileRow* row) const {
    return indexOfTopLevelItem(const_cast<FileRow*>(row));
}

std::vector<FileRow*> FileListView::SelectedRows() const {
    std::vector<FileRow*> rows;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->isSelected())
            rows.push_back(Row(i));
    return rows;
}

void FileListView::SelectAllRows() {
    selectAll();
    setFocus(Qt::ShortcutFocusReason);
}

void FileListView::SortByColumn(int column) {
    sortOrder_ = column == sortColumn_ && sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                           : Qt::AscendingOrder;
    sortColumn_ = column;
    Resort();
}

void FileListView::SetSort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= kColumnCount) {
        ForgetSortOrder();
        return;
    }
    sortColumn_ = column;
    sortOrder_ = order;
    Resort();
}

void FileListView::Resort() {
    if (sortColumn_ < 0)
        return;
    sortItems(sortColumn_, sortOrder_);
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(sortColumn_, sortOrder_);
    FitHeaders();
}

void FileListView::FitHeaders() {
    // A title never cut: larger fonts and the sort arrow need more room than the defaults.
    const int margin = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header()) + 4;
    for (int column = 0; column < kColumnCount; ++column) {
        const int needed =
            column == sortColumn_
                ? header()->sectionSizeHint(column)
                : header()->fontMetrics().horizontalAdvance(headerItem()->text(column)) + margin;
        if (columnWidth(column) < needed)
            setColumnWidth(column, needed);
    }
}

void FileListView::FitValueColumns() {
    // The short values (length, rates, channels) are read whole; names may be cut.
    for (int column : {kDuration, kBitRate, kSampleRate, kChannels}) {
        const int needed = sizeHintForColumn(column);
        if (columnWidth(column) < needed)
            setColumnWidth(column, needed);
    }
}

void FileListView::changeEvent(QEvent* event) {
    QTreeWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        FitHeaders();
}

QString FileListView::ColumnWidthsText() const {
    QStringList widths;
    for (int column = 0; column < kColumnCount; ++column)
        widths << QString::number(columnWidth(column));
    return widths.join(u',');
}

void FileListView::SetColumnWidthsText(const QString& text) {
    const QStringList fields = text.split(u',');
    if (fields.size() != kColumnCount)
        return;
    std::vector<int> widths;
    for (const QString& field : fields) {
        bool ok = false;
        const int width = field.trimmed().toInt(&ok);
        // A hidden or absurd column would be lost to the user.
        if (!ok || width < 10 || width > 5000)
            return;
        widths.push_back(width);
    }
    for (int column = 0; column < kColumnCount; ++column)
        setColumnWidth(column, widths[static_cast<size_t>(column)]);
    FitHeaders();
}

void FileListView::ForgetSortOrder() {
    // The user's order replaces the sorted one.
    sortColumn_ = -1;
    sortOrder_ = Qt::AscendingOrder;
    header()->setSortIndicatorShown(false);
}

void FileListView::MoveSelectedTo(int index) {
    std::vector<FileRow*> rows = SelectedRows();
    if (rows.empty())
        return;
    index = std::clamp(index, 0, RowCount());
    // Rows above the target that move shift it up by one each.
    int target = index;
    for (FileRow* row : rows)
        if (IndexOf(row) < index)
            --target;
    FileRow* current = static_cast<FileRow*>(currentItem());
    for (FileRow* row : rows)
        takeTopLevelItem(IndexOf(row));
    for (size_t i = 0; i < rows.size(); ++i)
        insertTopLevelItem(target + static_cast<int>(i), rows[i]);
    clearSelection();
    for (FileRow* row : rows)
        row->setSelected(true);
    if (current && IndexOf(current) >= 0)
        setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    scrollToItem(rows.front());
    ForgetSortOrder();
}

void FileListView::MoveSelected(int delta) {
    const std::vector<FileRow*> rows = SelectedRows();
    if (rows.empty())
        return;
    const int first = IndexOf(rows.front());
    const int last = IndexOf(rows.back());
    if (delta < 0 && first > 0)
        MoveSelectedTo(first - 1);
    else if (delta > 0 && last + 1 < RowCount())
        MoveSelectedTo(last + 2);
}

QStringList FileListView::mimeTypes() const {
    return {QString::fromLatin1(kRowsMimeType), QStringLiteral("text/uri-list")};
}

QMimeData* FileListView::mimeData(const QList<QTreeWidgetItem*>&) const {
    auto* rows = new QMimeData;
    rows->setData(QString::fromLatin1(kRowsMimeType), ProcessToken());
    return rows;
}

bool FileListView::IsOwnRows(const QMimeData* mime) const {
    return mime && mime->data(QString::fromLatin1(kRowsMimeType)) == ProcessToken();
}

int FileListView::DropIndex(const QPoint& pos) const {
    const QModelIndex at = indexAt(pos);
    if (!at.isValid())
        return RowCount();
    const QRect rect = visualRect(at);
    return pos.y() < rect.center().y() ? at.row() : at.row() + 1;
}

void FileListView::dragEnterEvent(QDragEnterEvent* event) {
    if (IsOwnRows(event->mimeData()))
        QTreeWidget::dragEnterEvent(event);
    AnswerDrag(event);
}

void FileListView::dragMoveEvent(QDragMoveEvent* event) {
    if (IsOwnRows(event->mimeData()))
        QTreeWidget::dragMoveEvent(event);
    AnswerDrag(event);
}

void FileListView::AnswerDrag(QDragMoveEvent* event) {
    // Our own rows move; files from elsewhere are added; anything else is refused.
    if (IsOwnRows(event->mimeData())) {
        event->setDropAction(Qt::MoveAction);
        event->accept();
    } else if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void FileListView::dropEvent(QDropEvent* event) {
    if (IsOwnRows(event->mimeData())) {
        MoveSelectedTo(DropIndex(event->position().toPoint()));
        // The rows are moved here: the drag must not remove them at its source as well.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        stopAutoScroll();
        setState(NoState);
        viewport()->update();
        return;
    }
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
        emit urlsDropped(event->mimeData()->urls());
        return;
    }
    event->ignore();
}

void FileListView::contextMenuEvent(QContextMenuEvent* event) {
    const QPoint at = event->reason() == QContextMenuEvent::Mouse ? event->globalPos()
                                                                  : mapToGlobal(rect().center());
    emit menuRequested(at);
    event->accept();
}

}  // namespace kestrune
