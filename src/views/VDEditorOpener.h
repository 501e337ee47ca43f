#pragma once

#include <string>

namespace vd::editor {

// Hands a text to an external editor: the text goes to a new file of our own editor folder and
// the editor is started on it. Writing and starting happen on "VD.Open.Thread", so neither the
// file (a body can be megabytes) nor the desktop's URL handling holds up the window. When the
// file cannot be written, or the editor has gone meanwhile, nothing is started or reported.

// The found `subl` with "-a" and the file.
void openInSubl(std::string text);
// "vscode://file/<path>" when a desktop entry takes such URLs, else the found `code` with the
// file.
void openInVSC(std::string text);

} // namespace vd::editor
