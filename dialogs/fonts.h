#pragma once

#include <QFont>

// The font standing in for 宋体, the default of a Chinese Windows desktop, where
// the window and the dialogs were laid out (9 pt there). A Song/Ming-style
// serif (AR PL UMing, which the set-up installs) keeps Chinese text at the
// widths the controls were made for.
QFont song_font(int pointSize);
