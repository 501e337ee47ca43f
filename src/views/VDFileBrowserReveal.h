#pragma once

#include <QString>

namespace vd {

// The menu title of revealing a file: "Show in Finder" on macOS, "Show in File Manager"
// elsewhere.
QString revealMenuTitle();

// Shows the file at `path` selected in a file-browser window. Where the desktop's file manager
// does not take the request (no session bus, no FileManager1 service), the folder holding the
// file is opened instead. The path itself is never opened: it comes from the network, and
// opening it could start a program. Anything but an absolute path is ignored.
void revealInFileBrowser(const QString& path);

} // namespace vd
