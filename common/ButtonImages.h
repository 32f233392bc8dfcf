#pragma once
// The main window's 32 x 32 button images, drawn as vectors so they
// stay crisp at every scale factor. The numbers are what the window's logic
// relies on: the Record button blinks by swapping 7 (stop) and 8 (empty).

#include <QIcon>

namespace velmora {

enum ButtonImage {
    kImageProgram = 0,  // the program's own icon
    kImageSpare = 1,    // a film strip; no control shows it
    kImageExit = 2,     // a door with an arrow
    kImageOptions = 3,  // gears
    kImageRecord = 4,   // a red dot
    kImageAbout = 5,    // an information bubble
    kImageFolder = 6,   // a folder with a magnifier
    kImageStop = 7,     // a blue square
    kImageEmpty = 8,    // nothing at all
    kImageArea = 9,     // a monitor with a red-framed rectangle
    kImageFull = 10,    // a monitor with a full picture
    kImagePause = 11,   // two blue bars
    kImageResume = 12,  // a blue triangle pointing on
    kImageWindow = 13,  // a monitor with one window framed red over another
    kImageCount = 14
};

// The image as an icon with pixmaps for scale factors 1, 1.5, 2 and 3.
QIcon ButtonImageIcon(int index);

}  // namespace velmora
