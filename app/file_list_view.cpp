#include "app/file_list_view.h"

#include <QContextMenuEvent>
#include <QHeaderView>

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
    sortItems(column, sortOrder_);
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(column, sortOrder_);
}

void FileListView::contextMenuEvent(QContextMenuEvent* event) {
    const QPoint at = event->reason() == QContextMenuEvent::Mouse ? event->globalPos()
                                                                  : mapToGlobal(rect().center());
    emit menuRequested(at);
    event->accept();
}

}  // namespace kestrune
