#pragma once

#include <QString>
#include <QUrl>

#include <array>
#include <functional>

class QWidget;

namespace telvora {

// One entry of the Links menu: its component name, its caption and the page
// it opens. Kept here so that the menu, the about box and the tests agree.
struct LinkEntry {
    const char* name;
    QString caption;
    QString address;
};

inline constexpr std::size_t kLinkCount = 3;

// In menu order: "MarrowbyHomePage1", "MovieSiteLink1", "CommunitySiteLink1".
const std::array<LinkEntry, kLinkCount>& LinkEntries();

// The entry with that component name, or nullptr.
const LinkEntry* FindLinkEntry(const char* name);

// The address of "Marrowby Home Page", also opened from the about box.
const QString& HomePageAddress();

// Hands the address to the desktop's browser. Whether a browser opened is not
// examined: with none registered, nothing visible happens. `owner` is the
// window the request comes from; the desktop does not need it.
void OpenURL(QWidget* owner, const QString& address);

// Replaces the desktop's browser for every later OpenURL, so that tests can
// record what would be opened; an empty function restores the browser.
using UrlOpener = std::function<void(const QUrl&)>;
void SetUrlOpener(UrlOpener opener);

} // namespace telvora
