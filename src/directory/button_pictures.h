#pragma once

#include <QIcon>

namespace telvora {

enum class TButtonPicture { SaveAsNew, Update, Delete, Connect, Close };

// Side of the square button pictures, in pixels.
inline constexpr int kButtonPictureSize = 16;

// A 16 x 16 picture for a button of the host directory, drawn at run time,
// with its greyed form registered for the disabled state.
QIcon ButtonPicture(TButtonPicture which);

} // namespace telvora
