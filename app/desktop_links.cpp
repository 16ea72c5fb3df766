#include "app/desktop_links.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "desktop/prompter.h"

namespace kestrune {

namespace {

// A local path, or an address with a scheme of its own.
QUrl UrlOf(const QString& address) {
    const QUrl url(address);
    if (url.isValid() && !url.scheme().isEmpty() && url.scheme().size() > 1)
        return url;
    return QUrl::fromLocalFile(address);
}

int MissingLocalTarget(const QUrl& url) {
    if (!url.isLocalFile())
        return 0;
    const QFileInfo info(url.toLocalFile());
    if (info.exists())
        return 0;
    return info.absoluteDir().exists() ? kOpenFileNotFound : kOpenPathNotFound;
}

}  // namespace

int OpenPath(Desktop& desktop, const QString& path) {
    const QUrl url = QUrl::fromLocalFile(path);
    if (const int missing = MissingLocalTarget(url))
        return missing;
    return desktop.OpenUrl(url) ? kOpenSucceeded : kOpenNoAssociation;
}

int OpenInBrowser(Desktop& desktop, const QString& address) {
    const QUrl url = UrlOf(address);
    if (const int missing = MissingLocalTarget(url))
        return missing;
    if (desktop.OpenUrl(url))
        return kOpenSucceeded;
    if (!url.isLocalFile() && desktop.OpenWithHtmlHandler(url.toString()))
        return kOpenSucceeded;
    return kOpenNoAssociation;
}

QString HyperlinkFailureText(int result) {
    const char* why = nullptr;
    switch (result) {
        case 0:
            why = "The operating system is out\nof memory or resources.";
            break;
        case 2:
            why = "The specified file was not found.";
            break;
        case 3:
            why = "The specified path was not found.";
            break;
        case 5:
            why = "The operating system denied\naccess to the specified file.";
            break;
        case 8:
            why = "There was not enough memory to complete the operation.";
            break;
        case 11:
            why = "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
            break;
        case 26:
            why = "A sharing violation occurred. ";
            break;
        case 27:
            why = "The filename association is\nincomplete or invalid.";
            break;
        case 28:
            why = "The DDE transaction could not\nbe completed because the request timed out.";
            break;
        case 29:
            why = "The DDE transaction failed.";
            break;
        case 30:
            why =
                "The DDE transaction could not\nbe completed because other DDE "
                "transactions\nwere being processed.";
            break;
        case 31:
            why = "There is no application associated\nwith the given filename extension.";
            break;
        case 32:
            why = "The specified dynamic-link library was not found.";
            break;
        default:
            break;
    }
    const QString text =
        why ? QString::fromLatin1(why) : QStringLiteral("Unknown Error (%1) occurred.").arg(result);
    return QStringLiteral("Unable to open hyperlink:\n\n") + text;
}

}  // namespace kestrune
