#include "ui/template_layouts.h"

#include <initializer_list>

namespace {

GraphicLayout portrait(int x, int y, int width, int height) {
    return {x, y, width, height, true};
}
GraphicLayout landscape(int x, int y) {
    return {x, y, 131, 71, false};
}

// x positions by y positions, row by row, left to right.
std::vector<GraphicLayout> grid(std::initializer_list<int> rows, std::initializer_list<int> columns,
                                int width, int height, bool vertical) {
    std::vector<GraphicLayout> tiles;
    for (int y : rows) {
        for (int x : columns) {
            tiles.push_back({x, y, width, height, vertical});
        }
    }
    return tiles;
}

// The twelve landscape tiles around the arches of both full-mouth series.
std::vector<GraphicLayout> fullMouthLandscapes() {
    return {landscape(10, 170), landscape(10, 300), landscape(600, 170), landscape(600, 300),
            landscape(460, 70), landscape(600, 70), landscape(460, 410), landscape(600, 410),
            landscape(10, 70),  landscape(150, 70), landscape(10, 410),  landscape(150, 410)};
}

std::vector<GraphicLayout> concat(std::vector<GraphicLayout> first,
                                  const std::vector<GraphicLayout>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::array<LayoutTemplate, kTemplateCount> makeTemplates() {
    return {{
        {"Single Image", {portrait(250, 75, 250, 375)}},
        {"Biteswing", grid({210}, {50, 210, 370, 530}, 141, 71, false)},
        {"Checkup",
         {portrait(260, 130, 91, 121), portrait(370, 130, 91, 121), portrait(320, 320, 91, 121),
          landscape(10, 270), landscape(150, 270), landscape(440, 270), landscape(580, 270)}},
        {"Endo Horizontal", grid({110, 200, 300}, {10, 150, 290, 430, 570}, 131, 71, false)},
        {"Full Mouth 18", concat(grid({150, 280}, {230, 330, 430}, 91, 121, true), fullMouthLandscapes())},
        {"Full Mouth 21", concat(concat(grid({150}, {150, 240, 330, 420, 510}, 81, 121, true),
                                        grid({280}, {190, 280, 370, 460}, 81, 121, true)),
                                 fullMouthLandscapes())},
        {"Vertical Endo", grid({130, 290}, {50, 160, 270, 380, 490, 600}, 101, 141, true)},
    }};
}

} // namespace

const std::array<LayoutTemplate, kTemplateCount>& layoutTemplates() {
    static const auto templates = makeTemplates();
    return templates;
}
