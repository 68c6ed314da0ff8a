#pragma once

#include <QImage>

// The banner shown until a downloaded picture replaces it: 965 x 477, drawn by the program.
QImage DefaultBanner();
