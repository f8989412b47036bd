// Draws the images of Salvix Setup's style sheets at build time: the logo of each
// theme, the close button and its hover state, each at the normal and the 4K size, and
// the icon. Usage: SetupImageGenerator OUTPUT_DIR WORDMARK_FONT
#include "Themes.h"

#include <QColor>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

namespace {

// The colours of one theme's images; the file names come from the theme table.
struct ImageColours
{
    int theme; // the theme's number
    QColor wordmark; // the product name
    QColor markFrom; // the mark's gradient, left to right
    QColor markTo;
    QColor markGlyph; // the letter on the mark
    QColor cross; // the close glyph
    QColor hoverDisc; // the disc behind the close glyph under the mouse
    QColor hoverCross;
};

const ImageColours kImageColours[] = {
    {0, QColor(0x0A2132), QColor(0x5B8DEF), QColor(0xA3BFFF), QColor(Qt::white), QColor(10, 33, 50, 140),
     QColor(10, 33, 50, 20), QColor(0x0A2132)},
    {1, QColor(Qt::white), QColor(0xFED9AD), QColor(0xE8BC8A), QColor(0x3D3B39), QColor(255, 255, 255, 150),
     QColor(254, 217, 173, 46), QColor(0xFED9AD)},
    {2, QColor(Qt::white), QColor(0x5AA0FF), QColor(0x1A76FF), QColor(Qt::white), QColor(255, 255, 255, 150),
     QColor(255, 255, 255, 31), QColor(Qt::white)},
};

QImage blank(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A rounded square in the theme's gradient with an "S" on it.
void drawMark(QPainter& painter, const QRectF& box, const ImageColours& theme, const QString& family)
{
    QLinearGradient gradient(box.topLeft(), box.bottomRight());
    gradient.setColorAt(0, theme.markFrom);
    gradient.setColorAt(1, theme.markTo);
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRoundedRect(box, box.width() * 0.26, box.height() * 0.26);

    QFont font(family);
    font.setWeight(QFont::Bold);
    font.setPixelSize(qRound(box.height() * 0.68));
    painter.setFont(font);
    painter.setPen(theme.markGlyph);
    painter.drawText(box, Qt::AlignCenter, QStringLiteral("S"));
}

QImage logo(int width, int height, const ImageColours& theme, const QString& family)
{
    QImage image = blank(width, height);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QFont font(family);
    font.setWeight(QFont::Bold);
    font.setPixelSize(qRound(height * 0.5));
    const QString name = QStringLiteral("Salvix");
    const qreal side = height * 0.72;
    const qreal gap = height * 0.2;
    const qreal textWidth = QFontMetricsF(font).horizontalAdvance(name);
    const qreal left = (width - side - gap - textWidth) / 2;

    drawMark(painter, QRectF(left, (height - side) / 2, side, side), theme, family);
    painter.setFont(font);
    painter.setPen(theme.wordmark);
    painter.drawText(QRectF(left + side + gap, 0, textWidth + 1, height), Qt::AlignLeft | Qt::AlignVCenter, name);
    return image;
}

QImage closeButton(int size, const ImageColours& theme, bool hover)
{
    QImage image = blank(size, size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (hover) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(theme.hoverDisc);
        painter.drawEllipse(QRectF(0, 0, size, size));
    }
    QPen pen(hover ? theme.hoverCross : theme.cross, size / 12.0, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    const qreal near = size * 0.32;
    const qreal far = size * 0.68;
    painter.drawLine(QPointF(near, near), QPointF(far, far));
    painter.drawLine(QPointF(far, near), QPointF(near, far));
    return image;
}

const ImageColours* coloursOf(const Theme& theme)
{
    for (const ImageColours& colours : kImageColours) {
        if (colours.theme == theme.number)
            return &colours;
    }
    QTextStream(stderr) << "SetupImageGenerator: no image colours for theme " << theme.number << "\n";
    return nullptr;
}

bool save(const QImage& image, const QString& path, const char* format)
{
    QImageWriter writer(path, format);
    if (writer.write(image.convertToFormat(QImage::Format_ARGB32)))
        return true;
    QTextStream(stderr) << "SetupImageGenerator: cannot write " << path << ": " << writer.errorString() << "\n";
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    // A build step needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        QTextStream(stderr) << "usage: SetupImageGenerator OUTPUT_DIR WORDMARK_FONT\n";
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QStringList families =
        QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(QString::fromLocal8Bit(argv[2])));
    if (families.isEmpty() || !out.mkpath(QStringLiteral("."))) {
        QTextStream(stderr) << "SetupImageGenerator: cannot load " << argv[2] << " or create " << argv[1] << "\n";
        return 1;
    }
    const QString family = families.first();

    bool ok = true;
    for (const Theme& theme : themes()) {
        const ImageColours* colours = coloursOf(theme);
        if (!colours)
            return 1;
        const QString prefix = theme.imagePrefix;
        for (int scale : {1, 2}) {
            const QString logoName = QStringLiteral("%1logoT%2_%3.png").arg(prefix).arg(205 * scale).arg(64 * scale);
            ok &= save(logo(205 * scale, 64 * scale, *colours, family), out.filePath(logoName), "png");
            const int size = 24 * scale;
            ok &= save(closeButton(size, *colours, false),
                       out.filePath(QStringLiteral("%1close%2_%2.png").arg(prefix).arg(size)), "png");
            ok &= save(closeButton(size, *colours, true),
                       out.filePath(QStringLiteral("%1close_hover%2_%2.png").arg(prefix).arg(size)), "png");
        }
    }
    QImage icon = blank(256, 256);
    {
        QPainter painter(&icon);
        painter.setRenderHint(QPainter::Antialiasing);
        drawMark(painter, QRectF(16, 16, 224, 224), kImageColours[0], family);
    }
    ok &= save(icon, out.filePath(QStringLiteral("logo.ico")), "ico");
    return ok ? 0 : 1;
}
