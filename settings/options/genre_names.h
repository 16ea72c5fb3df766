#pragma once
// The genre names the ID3 page offers. The only place the options pages reach the genre table.

#include <QStringList>

namespace kestrune {

// The 148 names of the ID3v1 genre table with its extensions, spelt as the table spells them,
// in alphabetical order (case ignored).
QStringList SortedGenreNames();
// The same names in the table's own order (index 0 to 147).
QStringList GenreTableNames();

}  // namespace kestrune
