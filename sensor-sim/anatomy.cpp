// The scene is built in pixel units from a few random draws seeded by the serial number: a row of
// molars or premolars, each a crown (a superellipse with cusps) over one or two tapered roots, in
// alveolar bone whose trabecular texture comes from ridged gradient noise. Every point sums the
// attenuation along the beam; what passes is exp(-attenuation). The broad, slowly varying fields
// (soft tissue, the bending of the trabeculae) are computed on a coarse grid and interpolated; the
// fine texture and the teeth on a finer one, on two threads.
#include "sensor-sim/anatomy.h"

#include "sensor-sim/sim_random.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <list>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>

namespace sensorsim {

namespace {

struct Point {
    double x;
    double y;
};

double clamp01(double x) {
    return std::clamp(x, 0.0, 1.0);
}

double smoothstep(double edge0, double edge1, double x) {
    const double t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0 - 2.0 * t);
}

// Coverage of a shape at a pixel from its signed distance (negative inside), anti-aliased.
double coverage(double distance) {
    return clamp01(0.5 - distance / 1.2);
}

// 1 inside [low, high] of d, fading over a pixel at both ends.
double band(double d, double low, double high) {
    return smoothstep(low - 1.0, low + 1.0, d) * (1.0 - smoothstep(high - 1.0, high + 1.0, d));
}

// Smooth union of two signed distances.
double smoothMin(double a, double b, double k) {
    const double h = clamp01(0.5 + 0.5 * (b - a) / k);
    return b + (a - b) * h - k * h * (1.0 - h);
}

// Signed distance to a capsule whose radius goes from ra at a to rb at b.
double taperedCapsule(Point p, Point a, Point b, double ra, double rb) {
    const double abx = b.x - a.x, aby = b.y - a.y;
    const double t = clamp01(((p.x - a.x) * abx + (p.y - a.y) * aby) / (abx * abx + aby * aby));
    const double cx = a.x + abx * t - p.x, cy = a.y + aby * t - p.y;
    return std::sqrt(cx * cx + cy * cy) - (ra + (rb - ra) * t);
}

// Approximate signed distance to a superellipse (exponent 3) centred at c, with half-width ax and
// half-heights ayTop above and ayBottom below the centre.
double superellipse(Point p, Point c, double ax, double ayTop, double ayBottom) {
    const double dx = std::abs(p.x - c.x) / ax;
    const double ay = p.y < c.y ? ayTop : ayBottom;
    const double dy = std::abs(p.y - c.y) / ay;
    const double rho = std::cbrt(dx * dx * dx + dy * dy * dy);
    return (rho - 1.0) * std::min(ax, std::min(ayTop, ayBottom));
}

// Gradient noise in [0, 1]: smooth, without the blocky look of interpolated lattice values.
class GradientNoise {
public:
    explicit GradientNoise(std::uint64_t seed) : seed_(seed) {
        for (std::size_t i = 0; i < gradients_.size(); ++i) {
            const double angle = 2.0 * std::numbers::pi * static_cast<double>(i) / gradients_.size();
            gradients_[i] = {std::cos(angle), std::sin(angle)};
        }
    }

    double at(double x, double y) const {
        const double fx = std::floor(x), fy = std::floor(y);
        const auto ix = static_cast<std::int64_t>(fx), iy = static_cast<std::int64_t>(fy);
        const double rx = x - fx, ry = y - fy;
        const double tx = fade(rx), ty = fade(ry);
        const double top = lerp(corner(ix, iy, rx, ry), corner(ix + 1, iy, rx - 1.0, ry), tx);
        const double bottom =
            lerp(corner(ix, iy + 1, rx, ry - 1.0), corner(ix + 1, iy + 1, rx - 1.0, ry - 1.0), tx);
        return clamp01(0.5 + 0.7 * lerp(top, bottom, ty));
    }

    // Octaves of rising frequency, each turned by a different angle so that no grid shows.
    double fractal(double x, double y, int octaves) const {
        double sum = 0.0, amplitude = 1.0, total = 0.0, scale = 1.0;
        for (int i = 0; i < octaves && i < 4; ++i) {
            const double c = kTurns[i].x, sn = kTurns[i].y;
            sum += amplitude * at((x * c - y * sn) * scale + 17.3 * i, (x * sn + y * c) * scale - 9.1 * i);
            total += amplitude;
            amplitude *= 0.5;
            scale *= 2.0;
        }
        return sum / total;
    }

private:
    static double fade(double t) { return t * t * t * (t * (t * 6.0 - 15.0) + 10.0); }
    static double lerp(double a, double b, double t) { return a + (b - a) * t; }
    double corner(std::int64_t ix, std::int64_t iy, double dx, double dy) const {
        const auto h = mix64(seed_ ^ (static_cast<std::uint64_t>(ix) * 0x9E3779B97F4A7C15ull) ^
                             (static_cast<std::uint64_t>(iy) * 0xC2B2AE3D27D4EB4Full));
        const Point& g = gradients_[h >> 58];
        return g.x * dx + g.y * dy;
    }
    // cos and sin of 0, 0.9, 1.8 and 2.7 radians.
    static constexpr Point kTurns[4] = {
        {1.0, 0.0}, {0.62160997, 0.78332691}, {-0.22720209, 0.97384763}, {-0.90407214, 0.42737988}};
    std::uint64_t seed_;
    std::array<Point, 64> gradients_;
};

struct Root {
    Point start;
    Point apex;
    double startRadius;
    double apexRadius;
    bool canal; // the trunk of a two-rooted tooth has none of its own
};

// One tooth in its own frame: u across, v down from the top of the crown; the crown is hc high and
// 2 cw wide at its widest.
struct Tooth {
    Point origin; // the top of the crown in the image
    double cosAngle;
    double sinAngle;
    double cw;
    double hc;
    double cuspDepth;
    std::array<Root, 3> roots;
    int rootCount;
    bool filling;
    double fillingOffset;
    double left, right, top, bottom; // bounding box in the image, margins included
};

struct ToothSample {
    double body = 0.0;    // coverage of the tooth
    double depth = 0.0;   // 0 at the outline, 1 in the thick middle
    double enamel = 0.0;  // coverage of the enamel cap
    double pulp = 0.0;    // coverage of pulp chamber and canals
    double filling = 0.0; // coverage of a metal filling
    double rootDistance = 1e9;
};

ToothSample sampleTooth(const Tooth& t, double x, double y) {
    ToothSample s;
    const double dx = x - t.origin.x, dy = y - t.origin.y;
    const Point q{dx * t.cosAngle + dy * t.sinAngle, -dx * t.sinAngle + dy * t.cosAngle};

    double rootDistance = 1e9;
    for (int i = 0; i < t.rootCount; ++i) {
        const Root& r = t.roots[static_cast<std::size_t>(i)];
        rootDistance =
            std::min(rootDistance, taperedCapsule(q, r.start, r.apex, r.startRadius, r.apexRadius));
    }
    s.rootDistance = rootDistance;

    const Point crownCentre{0.0, 0.5 * t.hc};
    const double cusp = 1.0 - t.cuspDepth * (0.5 + 0.5 * std::cos(2.0 * std::numbers::pi * q.x / t.cw));
    const double crown = superellipse(q, crownCentre, t.cw, 0.5 * t.hc * cusp, 0.56 * t.hc);
    const double body = smoothMin(crown, rootDistance, 0.1 * t.cw);
    s.body = coverage(body);
    if (s.body <= 0.0) {
        return s;
    }
    s.depth = std::sqrt(clamp01(-body / (0.7 * t.cw)));

    const double enamelSide = 0.1 * t.cw, enamelTop = 0.16 * t.cw;
    const double inner =
        superellipse(q, crownCentre, t.cw - enamelSide, 0.5 * t.hc * cusp - enamelTop, 0.6 * t.hc);
    s.enamel = coverage(crown) * (1.0 - coverage(inner)) * (1.0 - smoothstep(0.55 * t.hc, 0.95 * t.hc, q.y));

    double pulp = superellipse(q, {0.0, 0.74 * t.hc}, 0.34 * t.cw, 0.2 * t.hc * cusp, 0.18 * t.hc);
    for (int i = 0; i < t.rootCount; ++i) {
        const Root& r = t.roots[static_cast<std::size_t>(i)];
        if (r.canal) {
            const Point end{r.start.x + (r.apex.x - r.start.x) * 0.97,
                            r.start.y + (r.apex.y - r.start.y) * 0.97};
            pulp = smoothMin(pulp,
                             taperedCapsule(q, {r.start.x * 0.6, 0.8 * t.hc}, end, 0.26 * r.startRadius,
                                            0.05 * r.startRadius),
                             0.05 * t.cw);
        }
    }
    s.pulp = coverage(pulp);

    if (t.filling) {
        s.filling = coverage(
            superellipse(q, {t.fillingOffset * t.cw, 0.1 * t.hc}, 0.32 * t.cw, 0.1 * t.hc, 0.16 * t.hc));
    }
    return s;
}

struct Scene {
    int width;
    int height;
    double scale; // pixels per thousandth of the width
    std::vector<Tooth> teeth;
    std::vector<double> gaps; // x of the spaces between neighbouring teeth
    double crest;             // y of the alveolar crest below the crowns
    double occlusal;          // y of the biting surfaces
};

// The scene's sizes follow the frame (w x h); it is laid out on the anatomy's larger area, whose
// margins let a view move by up to (marginX, marginY) from the centre.
Scene buildScene(int width, int height, int marginX, int marginY, Random& random) {
    Scene scene{width + 2 * marginX, height + 2 * marginY, width / 1000.0, {}, {}, 0.0, 0.0};
    const double w = width, h = height;
    const bool molars = random.chance(0.55);
    const double spacing = (molars ? 0.47 : 0.37) * w * random.range(0.94, 1.06);
    const double hc = h * (molars ? random.range(0.19, 0.23) : random.range(0.21, 0.25));
    const double hr = h * random.range(0.37, 0.44);
    const double top = marginY + h * random.range(0.08, 0.14);
    const double centre = marginX + 0.5 * w + random.range(-0.3, 0.3) * spacing;
    const double globalTilt = random.range(-0.05, 0.05);
    const int fillingTooth = random.chance(0.5) ? static_cast<int>(random.next() % 3) : -1;
    scene.occlusal = top;

    int index = 0;
    for (int k = -3; k <= 3; ++k) {
        const double cx = centre + k * spacing + random.range(-0.03, 0.03) * spacing;
        if (cx < -0.55 * spacing || cx > scene.width + 0.55 * spacing) {
            continue;
        }
        Tooth t{};
        const double angle = globalTilt + random.range(-0.045, 0.045);
        t.origin = {cx, top + random.range(-0.015, 0.015) * h};
        t.cosAngle = std::cos(angle);
        t.sinAngle = std::sin(angle);
        t.cw = spacing * random.range(0.44, 0.48);
        t.hc = hc * random.range(0.95, 1.05);
        t.cuspDepth = molars ? random.range(0.09, 0.15) : random.range(0.04, 0.08);
        const double rootLength = hr * random.range(0.9, 1.08);
        const double curve = random.range(-0.12, 0.12) * t.cw;
        if (molars || random.chance(0.25)) {
            const double spread = molars ? 0.5 : 0.3;
            t.roots[0] = {{0.0, 0.85 * t.hc}, {0.0, t.hc + 0.2 * rootLength}, 0.6 * t.cw, 0.5 * t.cw, false};
            t.roots[1] = {{-0.3 * t.cw, 0.95 * t.hc},
                          {-spread * t.cw + curve, t.hc + rootLength},
                          0.32 * t.cw,
                          0.08 * t.cw,
                          true};
            t.roots[2] = {{0.3 * t.cw, 0.95 * t.hc},
                          {spread * t.cw + curve, t.hc + rootLength * random.range(0.9, 1.0)},
                          0.32 * t.cw,
                          0.08 * t.cw,
                          true};
            t.rootCount = 3;
        } else {
            t.roots[0] = {{0.0, 0.85 * t.hc}, {curve, t.hc + rootLength}, 0.58 * t.cw, 0.1 * t.cw, true};
            t.rootCount = 1;
        }
        t.filling = index == fillingTooth;
        t.fillingOffset = random.range(-0.25, 0.25);
        const double reach =
            std::max(t.cw * 1.3, 0.5 * spacing) + 0.3 * (t.hc + rootLength) * std::abs(angle);
        t.left = cx - reach - 16.0 * scene.scale;
        t.right = cx + reach + 16.0 * scene.scale;
        t.top = t.origin.y - 0.05 * h;
        t.bottom = t.origin.y + t.hc + rootLength + 0.05 * h;
        scene.teeth.push_back(t);
        ++index;
    }
    for (std::size_t i = 1; i < scene.teeth.size(); ++i) {
        scene.gaps.push_back(0.5 * (scene.teeth[i - 1].origin.x + scene.teeth[i].origin.x));
    }
    scene.crest = top + hc + h * random.range(0.03, 0.05);
    return scene;
}

// A smooth field sampled every kGridStep pixels and interpolated bilinearly in between.
constexpr int kGridStep = 4;

class CoarseField {
public:
    template <typename F> CoarseField(int width, int height, F&& f) {
        columns_ = width / kGridStep + 2;
        rows_ = height / kGridStep + 2;
        values_.resize(static_cast<std::size_t>(columns_) * rows_);
        for (int gy = 0; gy < rows_; ++gy) {
            for (int gx = 0; gx < columns_; ++gx) {
                values_[static_cast<std::size_t>(gy) * columns_ + gx] =
                    f(gx * kGridStep + 0.5, gy * kGridStep + 0.5);
            }
        }
    }

    // The field along one row of pixels.
    void row(int y, std::vector<double>& out) const {
        const int gy = y / kGridStep;
        const double ty = static_cast<double>(y % kGridStep) / kGridStep;
        const double* top = &values_[static_cast<std::size_t>(gy) * columns_];
        const double* bottom = top + columns_;
        for (std::size_t x = 0; x < out.size(); ++x) {
            const int gx = static_cast<int>(x) / kGridStep;
            const double tx = static_cast<double>(static_cast<int>(x) % kGridStep) / kGridStep;
            const double upper = top[gx] + (top[gx + 1] - top[gx]) * tx;
            const double lower = bottom[gx] + (bottom[gx + 1] - bottom[gx]) * tx;
            out[x] = upper + (lower - upper) * ty;
        }
    }

private:
    int columns_ = 0;
    int rows_ = 0;
    std::vector<double> values_;
};

// The anatomy is drawn at every kDrawStep-th pixel in both directions and interpolated in between:
// the anti-aliased outlines and the scintillator's blur are that soft anyway, and the first exposure
// of a sensor is four times quicker.
constexpr int kDrawStep = 2;

std::shared_ptr<Anatomy> drawAnatomy(std::string_view serial, int frameWidth, int frameHeight) {
    auto anatomy = std::make_shared<Anatomy>();
    anatomy->marginX = frameWidth * 3 / 20;
    anatomy->marginY = frameHeight / 20;
    const int width = anatomy->width = frameWidth + 2 * anatomy->marginX;
    const int height = anatomy->height = frameHeight + 2 * anatomy->marginY;

    Random random(mix64(hashText(serial) ^ mix64(static_cast<std::uint64_t>(frameWidth) << 32 |
                                                 static_cast<std::uint32_t>(frameHeight))));
    const Scene scene = buildScene(frameWidth, frameHeight, anatomy->marginX, anatomy->marginY, random);
    const GradientNoise trabecular(random.next());
    const GradientNoise broad(random.next());
    const double s = scene.scale;
    const double h = frameHeight;
    const double w = frameWidth;

    // The drawn grid: point (col, row) stands at pixel position ((col + 0.5) kDrawStep, ...).
    const int columns = width / kDrawStep + 2;
    const int rows = height / kDrawStep + 2;
    const auto position = [](int index) { return (index + 0.5) * kDrawStep; };

    // What depends on the column only: the gum line and the alveolar crest, higher between the teeth.
    std::vector<double> gumLine(static_cast<std::size_t>(columns)), crestLine(gumLine.size());
    for (int col = 0; col < columns; ++col) {
        const double x = position(col);
        gumLine[col] = scene.occlusal + 0.1 * h + 25.0 * s * (broad.at(x / (260.0 * s), 3.7) - 0.5);
        double crest = scene.crest;
        for (double gap : scene.gaps) {
            const double d = (x - gap) / (0.07 * w);
            crest -= 0.03 * h * std::exp(-d * d);
        }
        crestLine[col] = crest + 10.0 * s * (broad.at(x / (90.0 * s), 11.0) - 0.5);
    }
    // CoarseField works in grid units; these fields take pixel positions.
    const auto inPixels = [](auto f) {
        return [f](double x, double y) { return f(x * kDrawStep, y * kDrawStep); };
    };
    const CoarseField tissue(columns, rows, inPixels([&](double x, double y) {
                                 return broad.fractal(x / (320.0 * s), y / (320.0 * s), 2);
                             }));
    const CoarseField warpX(columns, rows, inPixels([&](double x, double y) {
                                return 30.0 * s * (broad.at(x / (70.0 * s), y / (70.0 * s)) - 0.5);
                            }));
    const CoarseField warpY(columns, rows, inPixels([&](double x, double y) {
                                return 30.0 * s *
                                       (broad.at(x / (70.0 * s) + 5.2, y / (70.0 * s) + 1.3) - 0.5);
                            }));
    const CoarseField boneBroad(columns, rows, inPixels([&](double x, double y) {
                                    return broad.fractal(x / (160.0 * s), y / (160.0 * s), 2);
                                }));

    // Transmission at every grid point.
    std::vector<float> passed(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
    const auto drawRows = [&](int firstRow, int endRow) {
        std::vector<double> tissueRow(static_cast<std::size_t>(columns)), warpXRow(tissueRow.size()),
            warpYRow(tissueRow.size()), boneRow(tissueRow.size());
        for (int row = firstRow; row < endRow; ++row) {
            const double y = position(row);
            tissue.row(row, tissueRow);
            warpX.row(row, warpXRow);
            warpY.row(row, warpYRow);
            boneBroad.row(row, boneRow);
            for (int col = 0; col < columns; ++col) {
                const double x = position(col);
                // Soft tissue: thin above the biting surfaces, thicker over the gum and the bone.
                double a = 0.1 + 0.3 * smoothstep(scene.occlusal - 40.0 * s, gumLine[col], y) +
                           0.08 * tissueRow[col];

                double teeth = 0.0, toothCover = 0.0, rootDistance = 1e9;
                for (const Tooth& t : scene.teeth) {
                    if (x < t.left || x > t.right || y < t.top || y > t.bottom) {
                        continue;
                    }
                    const ToothSample ts = sampleTooth(t, x, y);
                    rootDistance = std::min(rootDistance, ts.rootDistance);
                    if (ts.body > 0.0) {
                        teeth += ts.body * (1.15 * ts.depth - 0.75 * ts.pulp * ts.depth) + 1.05 * ts.enamel +
                                 4.2 * ts.filling;
                        toothCover = std::max(toothCover, ts.body);
                    }
                }

                // Alveolar bone below the crest, with its trabecular network, the dark ligament space
                // and the bright lamina dura around each root.
                const double crest = crestLine[col];
                const double boneCover = smoothstep(crest - 12.0 * s, crest + 30.0 * s, y);
                if (boneCover > 0.0) {
                    // Bending the coordinates turns the ridges into the irregular struts of
                    // cancellous bone.
                    const double wx = x + warpXRow[col];
                    const double wy = y + warpYRow[col];
                    const double n = trabecular.fractal(wx / (45.0 * s), wy / (45.0 * s), 3);
                    const double ridge = 1.0 - std::abs(2.0 * n - 1.0);
                    const double strut = ridge * ridge * ridge * ridge;
                    double bone = 0.36 + 0.24 * strut + 0.12 * boneRow[col];
                    bone -= 0.25 * band(rootDistance, 0.0, 5.0 * s);
                    bone += 0.3 * band(rootDistance, 5.0 * s, 11.0 * s);
                    a += boneCover * bone * (1.0 - 0.7 * toothCover);
                }
                a += teeth;
                passed[static_cast<std::size_t>(row) * columns + col] = static_cast<float>(std::exp(-a));
            }
        }
    };
    {
        std::jthread lower(drawRows, rows / 2, rows);
        drawRows(0, rows / 2);
    }

    // Every pixel between its four grid points.
    anatomy->transmission.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    std::vector<int> left(static_cast<std::size_t>(width));
    std::vector<float> across(left.size());
    for (int col = 0; col < width; ++col) {
        const double g = std::max(0.0, (col + 0.5) / kDrawStep - 0.5);
        left[col] = static_cast<int>(g);
        across[col] = static_cast<float>(g - left[col]);
    }
    for (int row = 0; row < height; ++row) {
        const double g = std::max(0.0, (row + 0.5) / kDrawStep - 0.5);
        const int top = static_cast<int>(g);
        const auto down = static_cast<float>(g - top);
        const float* upper = passed.data() + static_cast<std::size_t>(top) * columns;
        const float* lower = upper + columns;
        std::uint16_t* out = anatomy->transmission.data() + static_cast<std::size_t>(row) * width;
        for (int col = 0; col < width; ++col) {
            const int c = left[col];
            const float a = upper[c] + (upper[c + 1] - upper[c]) * across[col];
            const float b = lower[c] + (lower[c + 1] - lower[c]) * across[col];
            out[col] =
                static_cast<std::uint16_t>(std::clamp(a + (b - a) * down, 0.0f, 1.0f) * 65535.0f + 0.5f);
        }
    }
    return anatomy;
}

// The anatomies drawn last, newest first; kAnatomiesKept of them at most.
constexpr std::size_t kAnatomiesKept = 2;

struct KeptAnatomy {
    std::string serial;
    int frameWidth;
    int frameHeight;
    std::shared_ptr<const Anatomy> anatomy;
};

} // namespace

std::shared_ptr<const Anatomy> anatomyOf(std::string_view serial, int frameWidth, int frameHeight) {
    // Guards kept. Held while an anatomy is drawn, so that two exposures of a new sensor draw it once.
    static std::mutex mutex;
    static std::list<KeptAnatomy> kept;
    std::lock_guard lock(mutex);
    for (auto it = kept.begin(); it != kept.end(); ++it) {
        if (it->serial == serial && it->frameWidth == frameWidth && it->frameHeight == frameHeight) {
            kept.splice(kept.begin(), kept, it);
            return kept.front().anatomy;
        }
    }
    auto anatomy = drawAnatomy(serial, frameWidth, frameHeight);
    kept.push_front({std::string(serial), frameWidth, frameHeight, anatomy});
    if (kept.size() > kAnatomiesKept) {
        kept.pop_back();
    }
    return anatomy;
}

} // namespace sensorsim
