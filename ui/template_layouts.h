// The seven dental series templates of the acquisition dialog: the tiles of each, in tile order,
// positioned in the dialog's tile area.
#pragma once

#include "imaging/graphic_layout.h"

#include <array>
#include <string>
#include <vector>

struct LayoutTemplate {
    // The text in the dialog's template chooser.
    std::string name;
    std::vector<GraphicLayout> tiles;
};

inline constexpr std::size_t kTemplateCount = 7;

// In the order of the chooser: "Single Image", "Biteswing", "Checkup", "Endo Horizontal",
// "Full Mouth 18", "Full Mouth 21", "Vertical Endo".
const std::array<LayoutTemplate, kTemplateCount>& layoutTemplates();
