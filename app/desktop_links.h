#pragma once
// Opening files, folders, web pages and mail addresses, with the results the window reports.

#include <QString>

namespace kestrune {

class Desktop;

// Results of an open: above 32 it worked; the others name why it did not.
inline constexpr int kOpenSucceeded = 33;
inline constexpr int kOpenFileNotFound = 2;
inline constexpr int kOpenPathNotFound = 3;
inline constexpr int kOpenNoAssociation = 31;

// Opens address (a web or mail address, or a local path) with the desktop's handler; when that
// fails, hands a web or mail address to the desktop's handler for HTML pages. Returns one of
// the results above.
int OpenInBrowser(Desktop& desktop, const QString& address);

// Opens a local file or folder with the desktop's handler; the same results.
int OpenPath(Desktop& desktop, const QString& path);

// The message shown when a link cannot be opened: "Unable to open hyperlink:\n\n" and why.
QString HyperlinkFailureText(int result);

}  // namespace kestrune
