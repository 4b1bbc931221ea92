// The program's pictures and strings by their resource numbers, drawn from the SVG files
// compiled into the program (resources/). GUI thread only (QPixmap).
//
// Icons:    128 program, 145 busy (update running), 144 closed folder, 134 open folder,
//           135 feed page, 141 checked box, 142 empty box, 143 mixed box.
// Pictures: 162 splash, 163 About side, 164 warning side, 166 group banner, 169 channel side.
// Strings:  128 the document template string.
// An unknown number gives a null icon, a null pixmap or an empty string.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace corvane {

// The tray's icons: the program's own, and the busy one while the scheduled update runs.
constexpr int TRAY_ICON_NORMAL = 128;
constexpr int TRAY_ICON_BUSY = 145;

QIcon ResourceIcon(int number);

// The picture drawn at size (the template's own size when size is empty).
QPixmap ResourcePicture(int number, QSize size = QSize());

QString ResourceString(int number);

// The template string's first field, the application title "Corvane".
QString ApplicationTitle();

} // namespace corvane
