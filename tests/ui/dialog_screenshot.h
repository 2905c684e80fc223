// Renders the acquisition dialog as a dentist sees it during a full-mouth series: the "Full Mouth 18"
// template with every tile exposed, one tile selected and shown in the preview.
#pragma once

#include <QtCore/QString>
#include <QtGui/QImage>

#include <cstdint>
#include <vector>

namespace uitest {

// Samples of one synthetic exposure as the detector delivers them (before inversion): a few teeth
// with roots and pulp in front of bone, with some noise. `variant` moves and sizes the teeth.
std::vector<std::uint16_t> syntheticDetectorFrame(int width, int height, int variant);

// The dialog, drawn after a few clock ticks. Needs the application object.
QImage renderFullMouthDialog();

} // namespace uitest
