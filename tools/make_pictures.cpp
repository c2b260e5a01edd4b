// Draws the program's pictures: the icon (32 x 32, 16 colours), the control window's background
// (252 x 250, 256 colours), a larger rendering of the icon for the desktop entry, and the icon
// in full colour at every size a desktop theme or a Windows icon file asks for
// (icons/velmorin-<size>.png, each drawn at its size rather than scaled).
// Usage: make_pictures <pictures_dir> <program_dir>
//
// Everything is drawn with QPainter on plain QImages, so no display and no font is needed, and
// the indexed pictures are quantised here rather than by Qt so that the palettes are ours.

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr QRgb kTransparent = 0x00000000;

// The icon's palette: an outline brown, greys, the cream of the face, four brasses, two reds and
// the blue of the hands. Antialiased edges land on whichever of these lies nearest.
constexpr std::array<QRgb, 16> kIconPalette{
    kTransparent, 0xff1e1a16, 0xff4a4540, 0xff8a857d, 0xffc8c3b8, 0xfffbf6e6,
    0xffffffff,   0xff7a4e10, 0xffb87c1c, 0xffe0aa34, 0xfff6dc86, 0xffc8281e,
    0xff7a1410,   0xff1f2a4a, 0xff5a6888, 0xffe6d8b8,
};

const QColor kOutline(0x1e, 0x1a, 0x16);
const QColor kHands(0x1f, 0x2a, 0x4a);
const QColor kRed(0xc8, 0x28, 0x1e);

QPointF OnDial(QPointF centre, double radius, double hours) {
    const double a = hours / 12.0 * 2.0 * std::numbers::pi;
    return {centre.x() + radius * std::sin(a), centre.y() - radius * std::cos(a)};
}

QLinearGradient Brass(QPointF from, QPointF to) {
    QLinearGradient g(from, to);
    g.setColorAt(0.0, QColor(0xf6, 0xdc, 0x86));
    g.setColorAt(0.45, QColor(0xe0, 0xaa, 0x34));
    g.setColorAt(1.0, QColor(0x8a, 0x58, 0x12));
    return g;
}

void DrawHands(QPainter& p, QPointF centre, double radius, double width) {
    // Ten o'clock: a time that reads at a glance even at 32 pixels, the hands apart and neither
    // hiding a mark at three, six or nine.
    p.setPen(QPen(kHands, width * 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre, OnDial(centre, radius * 0.55, 10));
    p.setPen(QPen(kHands, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre, OnDial(centre, radius * 0.82, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawEllipse(centre, width * 0.7, width * 0.7);
}

// An alarm clock with two bells, drawn in a 32-unit square and scaled to `size` pixels. Small
// renderings leave out the minor hour marks, which would only smudge the face.
QImage DrawIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    // The centre sits on a pixel corner so that the marks and the minute hand, two pixels wide at
    // 32 pixels, fall on whole pixels instead of smearing into grey.
    const QPointF centre(16, 17);
    const bool small = size < 64;
    const QPen outline(kOutline, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);

    // Feet and the knob on top go behind the body.
    p.setPen(QPen(kOutline, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(9.5, 26), QPointF(7.2, 29.8));
    p.drawLine(QPointF(22.5, 26), QPointF(24.8, 29.8));
    p.drawLine(QPointF(16, 6), QPointF(16, 3.5));

    for (double side : {-1.0, 1.0}) {
        const QPointF bell = OnDial(centre, 11.2, side * 1.55);
        p.setPen(outline);
        p.setBrush(Brass(bell + QPointF(-3, -3), bell + QPointF(3, 3)));
        p.drawEllipse(bell, 4.6, 4.6);
    }

    p.setPen(outline);
    p.setBrush(Brass(QPointF(6, 7), QPointF(26, 28)));
    p.drawEllipse(centre, 11.4, 11.4);

    const double face = 8.4;
    p.setPen(QPen(QColor(0x7a, 0x4e, 0x10), 0.7));
    p.setBrush(QColor(0xfb, 0xf6, 0xe6));
    p.drawEllipse(centre, face, face);

    for (int h = 0; h < 12; ++h) {
        const bool major = h % 3 == 0;
        if (!major && small) {
            continue;
        }
        p.setPen(QPen(kOutline, major ? (small ? 2.0 : 1.3) : 0.6, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(OnDial(centre, face - (major ? 2.3 : 1.4), h), OnDial(centre, face - 0.5, h));
    }
    DrawHands(p, centre, face, small ? 2.0 : 1.3);
    return image;
}

// The control window's background: a quiet gradient, a large clock face showing the hour and a
// small hand bell ringing in the corner. The two buttons sit on plain gradient.
QImage DrawBackground() {
    QImage image(252, 250, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, 250);
    sky.setColorAt(0.0, QColor(0xfb, 0xf5, 0xe8));
    sky.setColorAt(0.55, QColor(0xee, 0xec, 0xe8));
    sky.setColorAt(1.0, QColor(0xd4, 0xdd, 0xec));
    p.fillRect(image.rect(), sky);

    const QPointF centre(110, 82);
    const double rim = 68;
    const double face = 58;

    QRadialGradient glow(centre, rim * 1.5);
    glow.setColorAt(0.0, QColor(255, 236, 190, 120));
    glow.setColorAt(1.0, QColor(255, 236, 190, 0));
    p.fillRect(image.rect(), glow);

    // A soft shadow, offset down and right as if lit from the upper left.
    QRadialGradient shadow(centre + QPointF(4, 6), rim + 6);
    shadow.setColorAt(0.85, QColor(60, 50, 40, 70));
    shadow.setColorAt(1.0, QColor(60, 50, 40, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shadow);
    p.drawEllipse(centre + QPointF(4, 6), rim + 6, rim + 6);

    p.setPen(QPen(QColor(0x5a, 0x3a, 0x0c), 1.5));
    p.setBrush(Brass(centre - QPointF(rim, rim), centre + QPointF(rim, rim)));
    p.drawEllipse(centre, rim, rim);
    p.setBrush(Brass(centre + QPointF(rim, rim), centre - QPointF(rim, rim)));
    p.drawEllipse(centre, face + 4, face + 4);

    QRadialGradient enamel(centre - QPointF(15, 20), face * 1.6);
    enamel.setColorAt(0.0, QColor(0xff, 0xfd, 0xf6));
    enamel.setColorAt(1.0, QColor(0xe9, 0xdf, 0xc8));
    p.setPen(QPen(QColor(0x7a, 0x4e, 0x10), 1.0));
    p.setBrush(enamel);
    p.drawEllipse(centre, face, face);

    for (int m = 0; m < 60; ++m) {
        const double hours = m / 5.0;
        if (m % 5 == 0) {
            const bool quarter = m % 15 == 0;
            p.setPen(QPen(kOutline, quarter ? 3.2 : 2.0, Qt::SolidLine, Qt::FlatCap));
            p.drawLine(OnDial(centre, face - (quarter ? 13 : 10), hours),
                       OnDial(centre, face - 3, hours));
        } else {
            p.setPen(QPen(QColor(0x6a, 0x60, 0x55), 0.8, Qt::SolidLine, Qt::FlatCap));
            p.drawLine(OnDial(centre, face - 6, hours), OnDial(centre, face - 3, hours));
        }
    }

    // Three o'clock, the minute hand on the twelve: the moment the program speaks.
    p.setPen(QPen(kHands, 5.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre, OnDial(centre, face * 0.55, 3));
    p.setPen(QPen(kHands, 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre, OnDial(centre, face * 0.82, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawEllipse(centre, 3.4, 3.4);
    p.setBrush(QColor(0xf6, 0xdc, 0x86));
    p.drawEllipse(centre, 1.3, 1.3);

    // The hand bell, tilted as it swings, with the lines of its sound.
    p.save();
    p.translate(205, 205);
    p.rotate(-18);
    QPainterPath bell;
    bell.moveTo(-19, 14);
    bell.cubicTo(-15, 8, -14, -2, -12, -10);
    bell.cubicTo(-9, -20, 9, -20, 12, -10);
    bell.cubicTo(14, -2, 15, 8, 19, 14);
    bell.closeSubpath();
    p.setPen(QPen(QColor(0x5a, 0x3a, 0x0c), 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0x6b, 0x3e, 0x1e));
    p.drawRoundedRect(QRectF(-3.5, -31, 7, 15), 3, 3);
    p.setBrush(Brass(QPointF(-18, -18), QPointF(18, 14)));
    p.drawPath(bell);
    p.setBrush(QColor(0x8a, 0x58, 0x12));
    p.drawEllipse(QPointF(4, 16), 3.2, 3.2);
    p.setPen(QPen(QColor(0x8a, 0x7a, 0x60), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (double r : {27.0, 34.0}) {
        p.drawArc(QRectF(-r, -r - 4, 2 * r, 2 * r), 30 * 16, 50 * 16);
    }
    p.restore();
    return image;
}

double Distance(QRgb a, QRgb b) {
    // Weighted towards green, roughly as the eye is.
    const double dr = qRed(a) - qRed(b);
    const double dg = qGreen(a) - qGreen(b);
    const double db = qBlue(a) - qBlue(b);
    return 2 * dr * dr + 4 * dg * dg + 3 * db * db;
}

int Nearest(QRgb colour, const QList<QRgb>& palette, int first) {
    int best = first;
    double best_distance = Distance(colour, palette[first]);
    for (int i = first + 1; i < palette.size(); ++i) {
        const double d = Distance(colour, palette[i]);
        if (d < best_distance) {
            best = i;
            best_distance = d;
        }
    }
    return best;
}

// The icon keeps hard edges against the transparency: a pixel is either clear or one of the
// fifteen colours, with no dithering to speckle so small a picture.
QImage ToIconPalette(const QImage& source) {
    const QImage argb = source.convertToFormat(QImage::Format_ARGB32);
    const QList<QRgb> palette(kIconPalette.begin(), kIconPalette.end());
    QImage out(argb.size(), QImage::Format_Indexed8);
    out.setColorTable(palette);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb c = argb.pixel(x, y);
            out.setPixel(x, y, qAlpha(c) < 128 ? 0 : Nearest(c, palette, 1));
        }
    }
    return out;
}

// Median cut: the box of colours with the widest spread, weighted by how many pixels it holds so
// that the large gradients get fine steps, is split at its median until there are `count` boxes;
// each box gives its mean colour.
QList<QRgb> MedianCut(const QImage& image, int count) {
    std::vector<QRgb> pixels;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            pixels.push_back(image.pixel(x, y));
        }
    }
    struct Box {
        std::size_t begin, end;
        int axis;
        double score;
    };
    auto channel = [](QRgb c, int k) { return k == 0 ? qRed(c) : k == 1 ? qGreen(c) : qBlue(c); };
    auto make_box = [&](std::size_t begin, std::size_t end) {
        Box box{begin, end, 0, 0.0};
        int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
        for (std::size_t i = begin; i < end; ++i) {
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], channel(pixels[i], k));
                hi[k] = std::max(hi[k], channel(pixels[i], k));
            }
        }
        for (int k = 1; k < 3; ++k) {
            if (hi[k] - lo[k] > hi[box.axis] - lo[box.axis]) {
                box.axis = k;
            }
        }
        box.score = (hi[box.axis] - lo[box.axis]) * std::sqrt(static_cast<double>(end - begin));
        return box;
    };

    std::vector<Box> boxes{make_box(0, pixels.size())};
    while (static_cast<int>(boxes.size()) < count) {
        const auto pick =
            std::max_element(boxes.begin(), boxes.end(),
                             [](const Box& l, const Box& r) { return l.score < r.score; });
        if (pick->score <= 0) {
            break;
        }
        const Box b = *pick;
        const auto first = pixels.begin() + static_cast<std::ptrdiff_t>(b.begin);
        const auto last = pixels.begin() + static_cast<std::ptrdiff_t>(b.end);
        std::sort(first, last, [&](QRgb l, QRgb r) {
            const int cl = channel(l, b.axis);
            const int cr = channel(r, b.axis);
            return cl != cr ? cl < cr : l < r;
        });
        const std::size_t middle = (b.begin + b.end) / 2;
        *pick = make_box(b.begin, middle);
        boxes.push_back(make_box(middle, b.end));
    }

    QList<QRgb> palette;
    for (const Box& b : boxes) {
        double sum[3] = {0, 0, 0};
        for (std::size_t i = b.begin; i < b.end; ++i) {
            for (int k = 0; k < 3; ++k) {
                sum[k] += channel(pixels[i], k);
            }
        }
        const double n = static_cast<double>(b.end - b.begin);
        palette.push_back(qRgb(static_cast<int>(std::lround(sum[0] / n)),
                               static_cast<int>(std::lround(sum[1] / n)),
                               static_cast<int>(std::lround(sum[2] / n))));
    }
    return palette;
}

// Floyd-Steinberg error diffusion keeps the gradients free of bands.
QImage ToIndexed(const QImage& source, int count) {
    const QImage rgb = source.convertToFormat(QImage::Format_RGB32);
    const QList<QRgb> palette = MedianCut(rgb, count);
    const int w = rgb.width();
    const int h = rgb.height();
    std::vector<std::array<double, 3>> error(static_cast<std::size_t>(w * 2 + 4), {0, 0, 0});
    auto cell = [&](int row, int x) -> std::array<double, 3>& {
        return error[static_cast<std::size_t>((row % 2) * (w + 2) + x + 1)];
    };

    QImage out(rgb.size(), QImage::Format_Indexed8);
    out.setColorTable(palette);
    for (int y = 0; y < h; ++y) {
        for (int x = -1; x <= w; ++x) {
            cell(y + 1, x) = {0, 0, 0};
        }
        for (int x = 0; x < w; ++x) {
            const QRgb c = rgb.pixel(x, y);
            const std::array<double, 3>& e = cell(y, x);
            const int want[3] = {
                std::clamp(static_cast<int>(std::lround(qRed(c) + e[0])), 0, 255),
                std::clamp(static_cast<int>(std::lround(qGreen(c) + e[1])), 0, 255),
                std::clamp(static_cast<int>(std::lround(qBlue(c) + e[2])), 0, 255)};
            const int index = Nearest(qRgb(want[0], want[1], want[2]), palette, 0);
            out.setPixel(x, y, static_cast<uint>(index));
            const QRgb got = palette[index];
            const double diff[3] = {static_cast<double>(want[0] - qRed(got)),
                                    static_cast<double>(want[1] - qGreen(got)),
                                    static_cast<double>(want[2] - qBlue(got))};
            for (int k = 0; k < 3; ++k) {
                cell(y, x + 1)[k] += diff[k] * 7 / 16;
                cell(y + 1, x - 1)[k] += diff[k] * 3 / 16;
                cell(y + 1, x)[k] += diff[k] * 5 / 16;
                cell(y + 1, x + 1)[k] += diff[k] * 1 / 16;
            }
        }
    }
    return out;
}

bool Save(const QImage& image, const std::filesystem::path& path) {
    if (image.save(QString::fromStdString(path.string()), "PNG")) {
        return true;
    }
    std::fprintf(stderr, "make_pictures: cannot write %s\n", path.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_pictures <pictures_dir> <program_dir>\n");
        return 2;
    }
    const std::filesystem::path pictures = argv[1];
    const std::filesystem::path program = argv[2];
    std::error_code ec;
    std::filesystem::create_directories(pictures, ec);
    std::filesystem::create_directories(program, ec);

    std::filesystem::create_directories(pictures / "icons", ec);

    bool ok = Save(ToIconPalette(DrawIcon(32)), pictures / "icon.png") &&
              Save(ToIndexed(DrawBackground(), 256), pictures / "setting.png") &&
              Save(DrawIcon(128), program / "velmorin.png");
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        ok = ok && Save(DrawIcon(size),
                        pictures / "icons" / ("velmorin-" + std::to_string(size) + ".png"));
    }
    return ok ? 0 : 1;
}
