#pragma once

#include <QPixmap>

// The two pictures of the start page, drawn by the program itself.
QPixmap drawTitlePicture(); // 513 x 209: "Speed" in script lettering
QPixmap drawLogoPicture();  // 185 x 65
