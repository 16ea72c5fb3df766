#include "settings/options/genre_names.h"

#include <algorithm>

#include "audio/id3_genres.h"

namespace kestrune {

QStringList GenreTableNames() {
    QStringList names;
    for (std::string_view name : Id3v1Genres())
        names << QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    return names;
}

QStringList SortedGenreNames() {
    QStringList names = GenreTableNames();
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
    });
    return names;
}

}  // namespace kestrune
