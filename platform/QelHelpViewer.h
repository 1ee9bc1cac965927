// Where help requests go. The program asks for a help file, a command and a
// topic number, as the platform's help engines take them; the desktop viewer
// turns that into one of the program's HTML help pages and hands it to the
// desktop's handler. Tests install a recording viewer.
#pragma once

#include <QString>

#include <cstdint>

// Commands of the two help engines.
constexpr uint32_t QelHelpDisplayTopic = 0x0000;  // HTML help: the contents
constexpr uint32_t QelHelpHtmlContext = 0x000F;   // HTML help: a topic number
constexpr uint32_t QelHelpContext = 0x0001;       // classic help: a topic number
constexpr uint32_t QelHelpQuit = 0x0002;          // classic help: close its window
constexpr uint32_t QelHelpContents = 0x0003;      // classic help: the contents

class IQelHelpViewer {
public:
    virtual ~IQelHelpViewer() = default;
    // Shows Topic of File; a help that cannot be shown fails silently.
    virtual void Show(const QString& File, uint32_t Command, int32_t Topic) = 0;
};

// The viewer in use: the desktop viewer unless a test set another. Setting
// null restores the desktop viewer; the caller keeps ownership of its own.
IQelHelpViewer* QelHelpViewer();
void QelSetHelpViewer(IQelHelpViewer* Viewer);

// The page of a topic: 0 the contents, 20 Getting Started, 30 Technical
// Support, 40 Ordering Information; empty for a topic the help has no page for.
QString QelHelpPageName(int32_t Topic);

// The HTML page for Topic of the help file File: the folder "Help" beside
// the file, else the installed data folder ("visara/Help" under the system's
// data folders). Empty when neither has the page.
QString QelFindHelpPage(const QString& File, int32_t Topic);
