// Paints the three demo reward pictures and their list file.
//
//   make_demo_pictures [OUTPUT_DIR]      (default: demo)
//
// The game stretches a reward picture to 289 x 257, so each one is painted
// at twice that size to stay crisp on 2x screens. All randomness comes from
// a fixed-seed generator of our own, so every run writes the same pixels.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

constexpr int W = 578;
constexpr int H = 514;

// QRandomGenerator's sequence is not promised to stay the same across Qt
// releases; a plain LCG is, which keeps the committed pictures reproducible.
class Lcg {
public:
    explicit Lcg(std::uint32_t seed)
        : state_(seed) {}
    double uniform() {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) / 16777216.0;
    }
    double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    int pick(int n) { return static_cast<int>(uniform() * n) % n; }
    bool chance(double p) { return uniform() < p; }

private:
    std::uint32_t state_;
};

QImage canvas() {
    QImage img(W, H, QImage::Format_RGB32);
    img.fill(Qt::black);
    return img;
}

void fillVertical(QPainter& p, const QRectF& r,
                  std::initializer_list<std::pair<double, QColor>> stops) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    for (const auto& [at, colour] : stops)
        g.setColorAt(at, colour);
    p.fillRect(r, g);
}

void glow(QPainter& p, QPointF centre, double radius, QColor inner) {
    QRadialGradient g(centre, radius);
    g.setColorAt(0, inner);
    QColor outer = inner;
    outer.setAlpha(0);
    g.setColorAt(1, outer);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(centre, radius, radius);
}

// A ridge through the given key points, roughened by midpoint displacement
// so the key points fix the overall shape and the noise only adds detail.
QPainterPath ridge(Lcg& rng, const std::vector<QPointF>& keys, double rough, double baseY) {
    std::vector<QPointF> pts = keys;
    double amp = rough;
    for (int level = 0; level < 5; ++level) {
        std::vector<QPointF> next;
        for (std::size_t i = 0; i + 1 < pts.size(); ++i) {
            const QPointF a = pts[i], b = pts[i + 1];
            next.push_back(a);
            next.push_back(
                QPointF((a.x() + b.x()) / 2, (a.y() + b.y()) / 2 + rng.range(-amp, amp)));
        }
        next.push_back(pts.back());
        pts = std::move(next);
        amp *= 0.55;
    }
    QPainterPath path;
    path.moveTo(pts.front().x(), baseY);
    for (const QPointF& pt : pts)
        path.lineTo(pt);
    path.lineTo(pts.back().x(), baseY);
    path.closeSubpath();
    return path;
}

// ---------------------------------------------------------------- set 1 ----
// Sunrise over the sea between two mountain ranges.

QImage sunrise() {
    QImage img = canvas();
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    Lcg rng(0x5e7a11u);

    const double horizon = 300;
    const QPointF sun(318, horizon + 6);

    fillVertical(p, QRectF(0, 0, W, horizon),
                 {{0.00, QColor(0x24, 0x1a, 0x5c)},
                  {0.35, QColor(0x7a, 0x2f, 0x7e)},
                  {0.62, QColor(0xe0, 0x5a, 0x6a)},
                  {0.84, QColor(0xff, 0x9a, 0x4a)},
                  {1.00, QColor(0xff, 0xe2, 0x8c)}});
    glow(p, sun, 300, QColor(255, 226, 150, 150));
    glow(p, sun, 120, QColor(255, 244, 200, 170));

    // Thin cloud streaks, lit from below by the low sun.
    for (int i = 0; i < 9; ++i) {
        const double y = rng.range(40, 215);
        const double x = rng.range(-60, W - 80);
        const double len = rng.range(120, 260);
        const double t = y / horizon;
        const QColor c = QColor::fromRgbF(1.0, 0.55 + 0.35 * t, 0.55 + 0.2 * t, 0.22 + 0.3 * t);
        for (int k = 0; k < 5; ++k) {
            // Each puff is a circle's gradient squashed flat, so its edges fade out.
            const double w = len * rng.range(0.35, 0.7), h = rng.range(5, 12);
            p.save();
            p.translate(x + rng.range(0, len * 0.5) + w / 2, y + rng.range(-4, 4));
            p.scale(w / h, 1);
            glow(p, QPointF(0, 0), h, c);
            p.restore();
        }
    }

    // The sun itself; the sea painted afterwards hides its lower part.
    {
        QRadialGradient g(sun, 52);
        g.setColorAt(0, QColor(255, 252, 230));
        g.setColorAt(0.7, QColor(255, 236, 150));
        g.setColorAt(1, QColor(255, 196, 90));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(sun, 52, 52);
    }

    // Two ranges on each side: hazy far peaks, darker near ones.
    auto range = [&](const std::vector<QPointF>& keys, QColor top, QColor bottom, double rough) {
        QPainterPath path = ridge(rng, keys, rough, horizon + 1);
        QLinearGradient g(0, keys.front().y() - 120, 0, horizon);
        g.setColorAt(0, top);
        g.setColorAt(1, bottom);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawPath(path);
    };
    range({{-10, 250}, {60, 175}, {130, 205}, {205, 150}, {275, 262}, {300, 300}},
          QColor(0xb0, 0x5c, 0x8c), QColor(0xd8, 0x7c, 0x86), 14);
    range({{360, 300}, {400, 240}, {470, 168}, {530, 210}, {590, 160}}, QColor(0xb0, 0x5c, 0x8c),
          QColor(0xd8, 0x7c, 0x86), 14);
    range({{-10, 190}, {40, 130}, {95, 178}, {150, 228}, {210, 300}}, QColor(0x5a, 0x2a, 0x66),
          QColor(0x7e, 0x3c, 0x6a), 18);
    range({{450, 300}, {500, 232}, {548, 196}, {590, 214}}, QColor(0x5a, 0x2a, 0x66),
          QColor(0x7e, 0x3c, 0x6a), 16);

    // Sea: brightest at the horizon where it mirrors the sky.
    fillVertical(p, QRectF(0, horizon, W, H - horizon),
                 {{0.00, QColor(0xf0, 0xa0, 0x78)},
                  {0.18, QColor(0xb8, 0x62, 0x7a)},
                  {0.55, QColor(0x4a, 0x3a, 0x78)},
                  {1.00, QColor(0x1a, 0x24, 0x52)}});

    // The sun's path on the water: broken strokes that narrow towards us.
    for (double y = horizon + 2; y < H; y += 5 + (y - horizon) * 0.03) {
        const double t = (y - horizon) / (H - horizon);
        const double half = 60 * (1 - 0.55 * t) * rng.range(0.6, 1.1);
        const double thick = 1.5 + 3.5 * t;
        double x = sun.x() - half + rng.range(-6, 6);
        while (x < sun.x() + half) {
            const double fade = 1 - 0.75 * t;
            QColor c(255, 230, 160, static_cast<int>(rng.range(140, 235) * fade));
            p.setPen(QPen(c, thick * rng.range(0.7, 1.1), Qt::SolidLine, Qt::RoundCap));
            const double seg = rng.range(8, 26) * (1 + t);
            p.drawLine(QPointF(x, y), QPointF(std::min(x + seg, sun.x() + half), y));
            x += seg + rng.range(3, 12) * (1 + t);
        }
    }

    // Wavelets, smaller and denser near the horizon for depth.
    for (int i = 0; i < 340; ++i) {
        const double t = std::pow(rng.uniform(), 1.5);
        const double y = horizon + 4 + t * (H - horizon - 4);
        const double x = rng.range(-20, W);
        const double len = 6 + 40 * t;
        const bool light = rng.chance(0.45);
        QColor c = light ? QColor(255, 190, 170, 110) : QColor(20, 24, 70, 120);
        p.setPen(QPen(c, 1 + 1.6 * t, Qt::SolidLine, Qt::RoundCap));
        QPainterPath w;
        w.moveTo(x, y);
        w.quadTo(x + len / 2, y - 2 - 2 * t, x + len, y);
        p.setBrush(Qt::NoBrush);
        p.drawPath(w);
    }

    // A few gulls heading into the light.
    p.setPen(QPen(QColor(0x3a, 0x1a, 0x3e), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const QPointF gulls[] = {{222, 96}, {248, 120}, {196, 130}, {402, 78}};
    const double sizes[] = {13, 9, 8, 7};
    for (int i = 0; i < 4; ++i) {
        const QPointF g = gulls[i];
        const double s = sizes[i];
        QPainterPath b;
        b.moveTo(g.x() - s, g.y() - s * 0.25);
        b.quadTo(g.x() - s * 0.45, g.y() - s * 0.65, g.x(), g.y());
        b.quadTo(g.x() + s * 0.45, g.y() - s * 0.65, g.x() + s, g.y() - s * 0.25);
        p.drawPath(b);
    }
    return img;
}

// ---------------------------------------------------------------- set 2 ----
// A crescent moon and stars over a sleeping town, with a cat on a roof.

void drawCat(QPainter& p, QPointF feet, double s, QColor colour) {
    // Sitting cat seen from behind, looking up at the moon.
    QPainterPath cat;
    cat.addEllipse(QPointF(feet.x(), feet.y() - 0.9 * s), 0.75 * s, 0.95 * s);
    cat.addEllipse(QPointF(feet.x() + 0.15 * s, feet.y() - 2.05 * s), 0.5 * s, 0.46 * s);
    QPainterPath ears;
    const QPointF head(feet.x() + 0.15 * s, feet.y() - 2.05 * s);
    ears.moveTo(head + QPointF(-0.48 * s, -0.1 * s));
    ears.lineTo(head + QPointF(-0.38 * s, -0.78 * s));
    ears.lineTo(head + QPointF(-0.05 * s, -0.38 * s));
    ears.closeSubpath();
    ears.moveTo(head + QPointF(0.5 * s, -0.1 * s));
    ears.lineTo(head + QPointF(0.46 * s, -0.8 * s));
    ears.lineTo(head + QPointF(0.12 * s, -0.4 * s));
    ears.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(cat.united(ears));

    QPainterPath tail;
    tail.moveTo(feet.x() + 0.5 * s, feet.y() - 0.1 * s);
    tail.cubicTo(feet.x() + 1.6 * s, feet.y(), feet.x() + 1.7 * s, feet.y() - 0.9 * s,
                 feet.x() + 1.3 * s, feet.y() - 1.3 * s);
    p.setPen(QPen(colour, 0.26 * s, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tail);
}

struct Building {
    double x, w, h;
    int roof; // 0 flat, 1 pitched, 2 stepped
};

void drawBuilding(QPainter& p, Lcg& rng, const Building& b, double ground, QColor body,
                  double litChance) {
    const double top = ground - b.h;
    QPainterPath shape;
    shape.addRect(QRectF(b.x, top, b.w, b.h + 1));
    if (b.roof == 1) {
        QPainterPath roof;
        roof.moveTo(b.x - 3, top);
        roof.lineTo(b.x + b.w / 2, top - b.w * 0.42);
        roof.lineTo(b.x + b.w + 3, top);
        roof.closeSubpath();
        shape = shape.united(roof);
    } else if (b.roof == 2) {
        shape.addRect(QRectF(b.x + b.w * 0.25, top - 14, b.w * 0.5, 15));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawPath(shape);

    // Window grid, a few of them lit.
    const double ww = 6, wh = 8, gapX = 6, gapY = 9;
    const int cols = static_cast<int>((b.w - 10) / (ww + gapX));
    const double left = b.x + (b.w - (cols * (ww + gapX) - gapX)) / 2;
    for (double y = top + 10; y + wh < ground - 6; y += wh + gapY) {
        for (int c = 0; c < cols; ++c) {
            const QRectF r(left + c * (ww + gapX), y, ww, wh);
            if (rng.chance(litChance)) {
                const QColor lit = rng.chance(0.8) ? QColor(255, 214, 120) : QColor(255, 168, 80);
                glow(p, r.center(), 9, QColor(lit.red(), lit.green(), lit.blue(), 50));
                p.setBrush(lit);
            } else {
                p.setBrush(body.darker(135));
            }
            p.drawRect(r);
        }
    }
}

QImage nightTown() {
    QImage img = canvas();
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    Lcg rng(0x0c47u);

    fillVertical(p, QRectF(0, 0, W, H),
                 {{0.00, QColor(0x04, 0x06, 0x18)},
                  {0.45, QColor(0x10, 0x1c, 0x4a)},
                  {0.75, QColor(0x2a, 0x34, 0x72)},
                  {1.00, QColor(0x3c, 0x38, 0x6e)}});

    // A faint band of milky light across the sky.
    p.save();
    p.translate(W / 2.0, 170);
    p.rotate(-18);
    p.scale(4, 1);
    for (int i = 0; i < 7; ++i)
        glow(p, QPointF(rng.range(-60, 60), rng.range(-12, 12)), rng.range(40, 70),
             QColor(150, 160, 230, 34));
    p.restore();

    const QPointF moon(448, 104);
    const double moonR = 44;

    // Stars: many faint ones, a handful of bright ones with rays.
    for (int i = 0; i < 260; ++i) {
        const QPointF at(rng.range(0, W), std::pow(rng.uniform(), 1.3) * 360);
        const double r = 0.5 + 1.3 * std::pow(rng.uniform(), 3);
        const double dm = std::hypot(at.x() - moon.x(), at.y() - moon.y());
        if (dm < moonR + 22)
            continue;
        const int tint = rng.pick(3);
        QColor c = tint == 0   ? QColor(255, 250, 230)
                   : tint == 1 ? QColor(210, 225, 255)
                               : QColor(255, 236, 200);
        c.setAlphaF(0.45 + 0.55 * rng.uniform());
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawEllipse(at, r, r);
    }
    const QPointF bright[] = {{70, 60}, {168, 132}, {300, 42}, {540, 226}, {250, 210}, {36, 250}};
    for (const QPointF& s : bright) {
        glow(p, s, 10, QColor(220, 230, 255, 110));
        p.setPen(QPen(QColor(240, 244, 255, 200), 1.1, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(s - QPointF(7, 0), s + QPointF(7, 0));
        p.drawLine(s - QPointF(0, 7), s + QPointF(0, 7));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255));
        p.drawEllipse(s, 1.7, 1.7);
    }

    // Crescent moon: a disc with an offset disc taken out.
    glow(p, moon, 150, QColor(255, 240, 190, 60));
    glow(p, moon, 75, QColor(255, 244, 210, 70));
    {
        QPainterPath disc, bite, crescent;
        disc.addEllipse(moon, moonR, moonR);
        bite.addEllipse(moon + QPointF(20, -12), moonR * 0.9, moonR * 0.9);
        crescent = disc.subtracted(bite);
        QRadialGradient g(moon - QPointF(18, -8), moonR * 1.3);
        g.setColorAt(0, QColor(255, 250, 222));
        g.setColorAt(1, QColor(246, 222, 150));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawPath(crescent);
    }

    const double ground = H - 34;

    // Hills behind the town.
    {
        QPainterPath hills = ridge(
            rng, {{-10, 372}, {120, 340}, {260, 364}, {420, 330}, {590, 356}}, 10, ground + 1);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x16, 0x1c, 0x3e));
        p.drawPath(hills);
    }

    // Far row of houses, dim and mostly asleep.
    for (double x = -8; x < W;) {
        Building b{x, rng.range(34, 60), rng.range(60, 110), rng.chance(0.5) ? 1 : 0};
        drawBuilding(p, rng, b, ground, QColor(0x1c, 0x22, 0x4a), 0.12);
        x += b.w + rng.range(-4, 6);
    }

    // Near row; the house under the cat keeps a flat roof for it to sit on.
    const double catX = 386;
    double catRoof = 0;
    for (double x = -14; x < W;) {
        Building b{x, rng.range(46, 84), rng.range(70, 150), rng.pick(3)};
        if (b.x <= catX && b.x + b.w > catX) {
            b.w = std::max(b.w, catX + 34 - b.x);
            b.roof = 0;
            b.h = 118;
            catRoof = ground - b.h;
        }
        const int shade = rng.pick(3);
        const QColor body = shade == 0   ? QColor(0x0d, 0x10, 0x26)
                            : shade == 1 ? QColor(0x12, 0x15, 0x30)
                                         : QColor(0x10, 0x12, 0x2a);
        drawBuilding(p, rng, b, ground, body, 0.32);
        x += b.w + rng.range(0, 4);
    }
    if (catRoof > 0)
        drawCat(p, QPointF(catX, catRoof), 13, QColor(0x03, 0x04, 0x0c));

    // Street with lamps.
    p.fillRect(QRectF(0, ground, W, H - ground), QColor(0x09, 0x0a, 0x16));
    for (double x = 54; x < W; x += 156) {
        glow(p, QPointF(x, ground - 54), 46, QColor(255, 210, 120, 90));
        glow(p, QPointF(x, ground + 10), 40, QColor(255, 210, 120, 45));
        p.setPen(QPen(QColor(0x05, 0x06, 0x0e), 3));
        p.drawLine(QPointF(x, ground + 8), QPointF(x, ground - 52));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 232, 170));
        p.drawEllipse(QPointF(x, ground - 54), 5, 5);
    }
    return img;
}

// ---------------------------------------------------------------- set 3 ----
// A summer garden: sunflower, tulips and daisies before a picket fence.

void drawDaisy(QPainter& p, QPointF c, double r, QColor petal, QColor heart) {
    p.setPen(QPen(petal.darker(118), 0.8));
    p.setBrush(petal);
    for (int i = 0; i < 14; ++i) {
        p.save();
        p.translate(c);
        p.rotate(i * 360.0 / 14);
        p.drawEllipse(QRectF(r * 0.15, -r * 0.16, r * 0.85, r * 0.32));
        p.restore();
    }
    QRadialGradient g(c - QPointF(r * 0.1, r * 0.1), r * 0.32);
    g.setColorAt(0, heart.lighter(130));
    g.setColorAt(1, heart.darker(120));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(c, r * 0.28, r * 0.28);
}

void drawTulip(QPainter& p, Lcg& rng, QPointF base, double height, QColor colour) {
    const QPointF head(base.x() + rng.range(-8, 8), base.y() - height);
    QPainterPath stem;
    stem.moveTo(base);
    stem.quadTo(QPointF(base.x() + rng.range(-10, 10), base.y() - height * 0.5), head);
    p.setPen(QPen(QColor(0x2c, 0x78, 0x22), 4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(stem);

    // One long leaf hugging the stem.
    const double side = rng.chance(0.5) ? 1 : -1;
    QPainterPath leaf;
    leaf.moveTo(base);
    leaf.quadTo(base + QPointF(side * 16, -height * 0.3),
                base + QPointF(side * 10, -height * 0.62));
    leaf.quadTo(base + QPointF(side * 2, -height * 0.3), base);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x38, 0x8e, 0x2c));
    p.drawPath(leaf);

    const double s = 13;
    QPainterPath cup;
    cup.moveTo(head + QPointF(-s, -s * 1.3));
    cup.lineTo(head + QPointF(-s * 0.45, -s * 0.7));
    cup.lineTo(head + QPointF(0, -s * 1.45));
    cup.lineTo(head + QPointF(s * 0.45, -s * 0.7));
    cup.lineTo(head + QPointF(s, -s * 1.3));
    cup.cubicTo(head + QPointF(s * 1.1, -s * 0.2), head + QPointF(s * 0.6, s * 0.25), head);
    cup.cubicTo(head + QPointF(-s * 0.6, s * 0.25), head + QPointF(-s * 1.1, -s * 0.2),
                head + QPointF(-s, -s * 1.3));
    QLinearGradient g(head + QPointF(-s, 0), head + QPointF(s, 0));
    g.setColorAt(0, colour.lighter(125));
    g.setColorAt(1, colour.darker(125));
    p.setPen(QPen(colour.darker(150), 0.8));
    p.setBrush(g);
    p.drawPath(cup);
}

void drawButterfly(QPainter& p, QPointF c, double s, double tilt, QColor wing) {
    p.save();
    p.translate(c);
    p.rotate(tilt);
    p.setPen(QPen(wing.darker(170), 1));
    p.setBrush(wing);
    p.drawEllipse(QRectF(-s * 1.05, -s * 0.95, s, s * 0.9));
    p.drawEllipse(QRectF(s * 0.05, -s * 0.95, s, s * 0.9));
    p.setBrush(wing.lighter(120));
    p.drawEllipse(QRectF(-s * 0.8, -s * 0.1, s * 0.75, s * 0.65));
    p.drawEllipse(QRectF(s * 0.05, -s * 0.1, s * 0.75, s * 0.65));
    p.setBrush(QColor(255, 255, 255, 200));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(-s * 0.55, -s * 0.5), s * 0.14, s * 0.14);
    p.drawEllipse(QPointF(s * 0.55, -s * 0.5), s * 0.14, s * 0.14);
    p.setBrush(QColor(0x2a, 0x1a, 0x10));
    p.drawRoundedRect(QRectF(-s * 0.1, -s * 0.8, s * 0.2, s * 1.35), s * 0.1, s * 0.1);
    p.setPen(QPen(QColor(0x2a, 0x1a, 0x10), 1));
    p.drawLine(QPointF(0, -s * 0.8), QPointF(-s * 0.3, -s * 1.25));
    p.drawLine(QPointF(0, -s * 0.8), QPointF(s * 0.3, -s * 1.25));
    p.restore();
}

void drawCloud(QPainter& p, QPointF c, double s) {
    QPainterPath cloud;
    cloud.addEllipse(c + QPointF(-s * 1.1, -s * 0.05), s * 0.7, s * 0.5);
    cloud.addEllipse(c + QPointF(-s * 0.35, -s * 0.45), s * 0.75, s * 0.7);
    cloud.addEllipse(c + QPointF(s * 0.5, -s * 0.3), s * 0.7, s * 0.6);
    cloud.addEllipse(c + QPointF(s * 1.15, 0), s * 0.6, s * 0.45);
    cloud.addRoundedRect(QRectF(c.x() - s * 1.5, c.y() - s * 0.2, s * 3.1, s * 0.6), s * 0.3,
                         s * 0.3);
    cloud = cloud.simplified();
    QLinearGradient g(c - QPointF(0, s), c + QPointF(0, s * 0.45));
    g.setColorAt(0, QColor(255, 255, 255));
    g.setColorAt(1, QColor(0xd6, 0xe6, 0xf4));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(cloud);
}

QImage garden() {
    QImage img = canvas();
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    Lcg rng(0x9a2de7u);

    fillVertical(p, QRectF(0, 0, W, 260),
                 {{0.0, QColor(0x4a, 0xa8, 0xe8)}, {1.0, QColor(0xc8, 0xea, 0xff)}});
    glow(p, QPointF(510, 58), 120, QColor(255, 250, 200, 160));
    p.setBrush(QColor(255, 246, 170));
    p.drawEllipse(QPointF(510, 58), 30, 30);
    drawCloud(p, QPointF(150, 70), 36);
    drawCloud(p, QPointF(360, 120), 24);

    // Rolling hills, lighter in the distance.
    auto hill = [&](std::vector<QPointF> keys, QColor top, QColor bottom) {
        QPainterPath path = ridge(rng, keys, 4, H);
        QLinearGradient g(0, keys.front().y() - 40, 0, 330);
        g.setColorAt(0, top);
        g.setColorAt(1, bottom);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawPath(path);
    };
    hill({{-10, 228}, {150, 196}, {330, 236}, {590, 206}}, QColor(0xa8, 0xdc, 0x78),
         QColor(0x86, 0xc4, 0x5c));
    hill({{-10, 262}, {200, 244}, {420, 270}, {590, 250}}, QColor(0x7c, 0xc4, 0x52),
         QColor(0x5e, 0xa8, 0x3e));

    // The garden lawn.
    fillVertical(p, QRectF(0, 300, W, H - 300),
                 {{0.0, QColor(0x5c, 0xb0, 0x40)}, {1.0, QColor(0x2e, 0x7a, 0x2a)}});

    // Picket fence along the back of the lawn.
    {
        const QColor wood(0xf8, 0xf2, 0xe4), edge(0xc8, 0xbc, 0xa4);
        p.setPen(QPen(edge, 1));
        p.setBrush(wood);
        p.drawRect(QRectF(-2, 262, W + 4, 7));
        p.drawRect(QRectF(-2, 288, W + 4, 7));
        for (double x = 4; x < W; x += 22) {
            QPainterPath picket;
            picket.moveTo(x, 308);
            picket.lineTo(x, 252);
            picket.lineTo(x + 6, 244);
            picket.lineTo(x + 12, 252);
            picket.lineTo(x + 12, 308);
            picket.closeSubpath();
            p.drawPath(picket);
        }
    }

    // Far flower bed: dots of colour that shrink and crowd with distance.
    const QColor bed[] = {QColor(0xff, 0x5a, 0x7a), QColor(0xff, 0xd0, 0x3a),
                          QColor(0xb8, 0x6a, 0xe8), QColor(0xff, 0xff, 0xff),
                          QColor(0xff, 0x8c, 0x3a)};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 420; ++i) {
        const double t = rng.uniform();
        const double y = 312 + t * 44;
        const double r = 1.5 + 1.8 * t;
        p.setBrush(QColor(0x3a, 0x86, 0x2e));
        const QPointF at(rng.range(-4, W + 4), y);
        p.drawEllipse(at + QPointF(0, r * 0.8), r * 0.8, r * 0.8);
        p.setBrush(bed[rng.pick(5)]);
        p.drawEllipse(at, r, r);
    }

    // Sunflower on the left, taller than the fence.
    {
        const QPointF head(92, 198);
        QPainterPath stem;
        stem.moveTo(100, H + 4);
        stem.quadTo(QPointF(84, 360), head + QPointF(0, 30));
        p.setPen(QPen(QColor(0x3c, 0x86, 0x2a), 7, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawPath(stem);
        for (int side : {-1, 1}) {
            QPainterPath leaf;
            const QPointF at(92, side < 0 ? 350 : 300);
            leaf.moveTo(at);
            leaf.quadTo(at + QPointF(side * 30, -34), at + QPointF(side * 62, -8));
            leaf.quadTo(at + QPointF(side * 30, 12), at);
            p.setPen(QPen(QColor(0x1e, 0x5a, 0x18), 1));
            p.setBrush(QColor(0x2e, 0x80, 0x24));
            p.drawPath(leaf);
            p.setPen(QPen(QColor(0x6c, 0xb8, 0x4a), 1.2));
            p.setBrush(Qt::NoBrush);
            QPainterPath rib;
            rib.moveTo(at);
            rib.quadTo(at + QPointF(side * 30, -12), at + QPointF(side * 58, -8));
            p.drawPath(rib);
        }
        for (int ring = 0; ring < 2; ++ring) {
            const QColor petal = ring == 0 ? QColor(0xf0, 0xa8, 0x10) : QColor(0xff, 0xd2, 0x20);
            p.setPen(QPen(petal.darker(125), 0.8));
            p.setBrush(petal);
            for (int i = 0; i < 20; ++i) {
                p.save();
                p.translate(head);
                p.rotate(i * 18 + ring * 9);
                QPainterPath pt;
                pt.moveTo(18, -7);
                pt.quadTo(40, -8, 50 - ring * 6, 0);
                pt.quadTo(40, 8, 18, 7);
                pt.closeSubpath();
                p.drawPath(pt);
                p.restore();
            }
        }
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x5a, 0x34, 0x14));
        p.drawEllipse(head, 24, 24);
        // Seeds laid out on the golden angle, as in the real flower.
        const double golden = std::numbers::pi * (3 - std::sqrt(5.0));
        for (int i = 0; i < 150; ++i) {
            const double r = 22 * std::sqrt(i / 150.0);
            const QPointF s = head + QPointF(r * std::cos(i * golden), r * std::sin(i * golden));
            p.setBrush(i % 2 ? QColor(0x3a, 0x20, 0x0c) : QColor(0x7a, 0x4a, 0x1c));
            p.drawEllipse(s, 1.5, 1.5);
        }
    }

    // Middle row of tulips.
    const QColor tulips[] = {QColor(0xe8, 0x24, 0x3c), QColor(0xff, 0x6e, 0xb4),
                             QColor(0xff, 0xc8, 0x1e), QColor(0x9a, 0x4a, 0xd8),
                             QColor(0xff, 0x7a, 0x22)};
    for (int i = 0; i < 14; ++i) {
        const double x = 162 + i * 29 + rng.range(-6, 6);
        drawTulip(p, rng, QPointF(x, 470 + rng.range(-6, 8)), rng.range(74, 100), tulips[i % 5]);
    }

    // Daisies in front, some cut off by the frame's edge.
    const QPointF daisies[] = {{40, 470},  {170, 488}, {292, 470},
                               {410, 496}, {520, 462}, {590, 520}};
    const double sizes[] = {36, 30, 40, 32, 38, 30};
    const QColor petals[] = {QColor(255, 255, 255), QColor(255, 236, 244), QColor(255, 255, 255),
                             QColor(236, 232, 255), QColor(255, 255, 255), QColor(255, 240, 230)};
    for (int i = 0; i < 6; ++i) {
        p.setPen(QPen(QColor(0x2e, 0x7a, 0x2a), 4));
        p.drawLine(daisies[i], daisies[i] + QPointF(0, 80));
        drawDaisy(p, daisies[i], sizes[i], petals[i], QColor(0xff, 0xc0, 0x20));
    }

    drawButterfly(p, QPointF(258, 182), 17, -14, QColor(0xff, 0x8a, 0x1e));
    drawButterfly(p, QPointF(452, 318), 12, 18, QColor(0x3a, 0x8c, 0xff));
    return img;
}

bool save(const QImage& img, const QString& path, const char* format, int quality) {
    if (img.save(path, format, quality))
        return true;
    std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("demo");
    QDir dir;
    if (!dir.mkpath(outDir)) {
        std::fprintf(stderr, "could not create %s\n", qPrintable(outDir));
        return 1;
    }
    const QDir out(outDir);

    bool ok = save(sunrise(), out.filePath("set1.jpg"), "JPG", 90);
    ok = save(nightTown(), out.filePath("set2.png"), "PNG", -1) && ok;
    // 24 bits per pixel: Qt's BMP writer drops the unused alpha byte of RGB32.
    ok = save(garden(), out.filePath("set3.bmp"), "BMP", -1) && ok;

    // The game reads this list with DOS line ends.
    QFile list(out.filePath("qorfile.txt"));
    if (!list.open(QIODevice::WriteOnly) ||
        list.write("set1.jpg\r\nset2.png\r\nset3.bmp\r\n") < 0) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(list.fileName()));
        ok = false;
    }
    return ok ? 0 : 1;
}
