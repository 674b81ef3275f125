#include "app/links.h"

#include <QDesktopServices>

#include <cstring>
#include <utility>

namespace telvora {

namespace {

UrlOpener& Opener() {
    static UrlOpener opener;
    return opener;
}

} // namespace

const std::array<LinkEntry, kLinkCount>& LinkEntries() {
    // The program has no web site of its own yet, so its home page entry opens
    // the encyclopedia article on the character set it is built around.
    static const std::array<LinkEntry, kLinkCount> links = {{
        {"MarrowbyHomePage1", QStringLiteral("Marrowby Home Page"),
         QStringLiteral("https://en.wikipedia.org/wiki/ATASCII")},
        // A mirror of the Pigwa Atari 8-bit archive, whose collections hold
        // ATASCII movies ("break messages") from the BBS days.
        {"MovieSiteLink1", QStringLiteral("Pigwa Atari 8-bit Archive"),
         QStringLiteral("https://ftp.atari8.org/ftp.pigwa.net/stuff/collections/")},
        {"CommunitySiteLink1", QStringLiteral("AtariAge"), QStringLiteral("https://atariage.com/")},
    }};
    return links;
}

const LinkEntry* FindLinkEntry(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    for (const LinkEntry& entry : LinkEntries()) {
        if (std::strcmp(entry.name, name) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

const QString& HomePageAddress() {
    return LinkEntries()[0].address;
}

void OpenURL(QWidget* owner, const QString& address) {
    (void)owner;
    const QUrl url(address);
    if (Opener()) {
        Opener()(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

void SetUrlOpener(UrlOpener opener) {
    Opener() = std::move(opener);
}

} // namespace telvora
