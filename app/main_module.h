// Shared procedures of the program: the file test, the program's folder,
// the application title and the window colouring.
#pragma once

#include <QString>

class QWidget;

namespace corvalin {

inline constexpr const char kProductName[] = "Corvalin";

// True when the path's last-modified time can be read.
bool FileExists(const QString& path);

// The folder of the program file, without a trailing separator. Files beside
// the program are named by appending "/HAND-M.CUR" and the like.
QString ProgramFolder();
// Tests run the windows against a folder of their own.
void SetProgramFolder(const QString& folder);

// The title the product name gives: cut at the last blank, at least once,
// until it is at most 40 characters long. A name without any blank (ours)
// has nothing to cut at and is its own title: cutting it to nothing would
// leave message boxes without a caption.
QString AppTitleFor(const QString& productName);
// The application title is the caption of every message box that names
// none. It is the program's own: Qt's application display name would be
// appended by the X11 platform to every window title ("Application Error —
// Corvalin"), which boxes with a caption of their own must not show.
void SetAppTitle();
QString AppTitle();

// Gives the window and its option buttons, check boxes, frames and labels
// the palette's button-face colour, following palette changes.
void ApplyButtonFace(QWidget* window);

// Gives a control's text the palette's button-text colour in each state
// (its disabled form when the control is disabled), following palette
// changes, whatever colour its container fixes for its own text.
void ApplyButtonText(QWidget* control);

// The skin of the first page: when "x/o.cjs" beside the program is a normal
// file, colour the window with the button face, then apply the file as a
// Qt style sheet.
void ApplySkin(QWidget* form1);

}  // namespace corvalin
