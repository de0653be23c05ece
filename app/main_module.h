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
void SetAppTitle();

// Gives the window and its option buttons, check boxes, frames and labels
// the palette's button-face colour, following palette changes.
void ApplyButtonFace(QWidget* window);

// The skin of the first page: when "x/o.cjs" beside the program is a normal
// file, colour the window with the button face, then apply the file as a
// Qt style sheet.
void ApplySkin(QWidget* form1);

}  // namespace corvalin
