// The rotate and flip buttons' work on a stored image: a new image with the samples rearranged.
#pragma once

#include "imaging/image.h"

#include <memory>

// Named after the dialog's slots. On the stored picture (rows from the top, columns from the left):
// Rotate brings the right column to the top (a quarter turn counter-clockwise), RotateCCW the left
// column (a quarter turn clockwise), FlipVertical mirrors each row left to right, FlipHorizontal
// puts the rows in reverse order.
enum class ImageTurn { Rotate, RotateCCW, FlipVertical, FlipHorizontal };

// A new image holding `image` turned: its number, depth, adjustment values, orientation flag and
// Ultra HD choice are kept, it is enhanced, not yet drawn and never a composite. An image whose
// samples do not fill its size gives one without samples.
std::shared_ptr<Image> turnedImage(const Image& image, ImageTurn turn);
