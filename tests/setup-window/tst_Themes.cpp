// The six style sheets applied as start-up applies them, rendered on the progress window
// and the confirm dialog; the images the sheets name; the icon and the font.
#include "TitleSingleDialog.h"
#include "WindowFixture.h"

#include <QPainter>
#include <QRawFont>
#include <QRegularExpression>
#include <QTest>
#include <QtEndian>

using namespace WindowFixture;

namespace {

const char* const kThemeNames[] = {"light", "golden", "dark", "theme3"};

// The image over an opaque background, as a widget shows it unscaled.
QImage composite(const QString& path, QRgb background)
{
    QImage result(QImage(path).size(), QImage::Format_ARGB32_Premultiplied);
    result.fill(background);
    QPainter painter(&result);
    painter.drawImage(0, 0, QImage(path));
    painter.end();
    return result.convertToFormat(QImage::Format_ARGB32);
}

// Largest colour distance between the image and the widget's part of the rendering.
int largestDifference(const QImage& shot, const QRect& rect, const QImage& expected)
{
    int largest = 0;
    for (int y = 0; y < rect.height(); ++y) {
        for (int x = 0; x < rect.width(); ++x)
            largest = qMax(largest, colourDistance(shot.pixel(rect.x() + x, rect.y() + y), expected.pixel(x, y)));
    }
    return largest;
}

} // namespace

class TestThemes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void images_data();
    void images();
    void icon();
    void font();
    void fontTexts_data();
    void fontTexts();
    void sheetRules_data();
    void sheetRules();
    void windowLook_data();
    void windowLook();
    void dialogLook_data();
    void dialogLook();
    void dialogButtons_data();
    void dialogButtons();
    void englishQuestion_data();
    void englishQuestion();

private:
    std::unique_ptr<Sandbox> sandbox;
};

void TestThemes::initTestCase()
{
    loadApplicationFont();
}

void TestThemes::init()
{
    gConfig = GlobalConfig();
    sandbox = std::make_unique<Sandbox>();
    QVERIFY(sandbox->isValid());
}

void TestThemes::cleanup()
{
    sandbox.reset();
}

void TestThemes::images_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");

    // Every theme of the table, so the build's list of images has to keep up with it.
    for (const Theme& theme : themes()) {
        const QString prefix = theme.imagePrefix;
        const QString base = QStringLiteral(":/resources/") + prefix;
        QTest::newRow(qPrintable(prefix + "logoT205_64")) << base + "logoT205_64.png" << QSize(205, 64);
        QTest::newRow(qPrintable(prefix + "logoT410_128")) << base + "logoT410_128.png" << QSize(410, 128);
        for (const QString& kind : {QStringLiteral("close"), QStringLiteral("close_hover")}) {
            QTest::newRow(qPrintable(prefix + kind + "24_24")) << base + kind + "24_24.png" << QSize(24, 24);
            QTest::newRow(qPrintable(prefix + kind + "48_48")) << base + kind + "48_48.png" << QSize(48, 48);
        }
    }
}

// PNG files with an 8-bit RGBA header of the table's size, and something drawn in them.
void TestThemes::images()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);

    const QByteArray bytes = Sandbox::read(path);
    QVERIFY(bytes.startsWith("\x89PNG\r\n\x1a\n"));
    QCOMPARE(bytes.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(qFromBigEndian<quint32>(bytes.constData() + 16), quint32(size.width()));
    QCOMPARE(qFromBigEndian<quint32>(bytes.constData() + 20), quint32(size.height()));
    QCOMPARE(int(bytes.at(24)), 8); // bit depth
    QCOMPARE(int(bytes.at(25)), 6); // colour type RGBA

    const QImage image(path);
    QCOMPARE(image.size(), size);
    const QRect all(QPoint(0, 0), size);
    QVERIFY(countPixels(image, all, [](QRgb p) { return qAlpha(p) == 0; }) > 0);
    QVERIFY(countPixels(image, all, [](QRgb p) { return qAlpha(p) > 100; }) > 0);
}

void TestThemes::icon()
{
    const QByteArray bytes = Sandbox::read(QStringLiteral(":/resources/logo.ico"));
    QVERIFY(bytes.size() > 22);
    QCOMPARE(qFromLittleEndian<quint16>(bytes.constData() + 2), quint16(1)); // an icon
    QCOMPARE(qFromLittleEndian<quint16>(bytes.constData() + 4), quint16(1)); // one image
    QCOMPARE(int(quint8(bytes.at(6))), 0); // width 256
    QCOMPARE(int(quint8(bytes.at(7))), 0); // height 256
    QCOMPARE(qFromLittleEndian<quint16>(bytes.constData() + 12), quint16(32)); // bits per pixel
    QCOMPARE(QImage(QStringLiteral(":/resources/logo.ico")).size(), QSize(256, 256));
}

void TestThemes::font()
{
    const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/resources/fonts/HarmonyOS_Sans_SC_Regular.ttf"));
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    QVERIFY(!families.isEmpty());
    const QFontMetrics metrics{QFont(families.first())};
    for (const QChar c : QStringLiteral("软體安裝Salvix"))
        QVERIFY2(metrics.inFontUcs4(c.unicode()), qPrintable(QString(c)));
}

void TestThemes::fontTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("box"); // the widget showing it, normal layout
    QTest::addColumn<int>("pixelSize"); // its sheets' font size, normal layout
    QTest::addColumn<int>("is4k");

    const QSize status(552, 50);
    const QSize title(420, 24);
    const QSize button(160, 40);
    const QList<std::pair<QString, QSize>> texts = {
        {QStringLiteral("Initializing..."), status},
        {QStringLiteral("工具初始化中..."), status},
        {QStringLiteral("Installing..."), status},
        {QStringLiteral("工具系统初始化中..."), status},
        {QStringLiteral("软件所安装的硬盘分区剩余空间不足，工具无法正常安装!"), status},
        {QStringLiteral("軟體所安裝的硬碟分割區剩餘空間不足，工具無法正常安裝!"), status},
        {QStringLiteral("Insufficient space available on the volume, The tool\ncannot be installed properly."), status},
        {QStringLiteral("新版本安装包已下载，是否立即升级工具？"), title},
        {QStringLiteral("新版本安裝包已下載，是否立即更新軟體？"), title},
        {QStringLiteral("The new version has been downloaded. Upgrade now?"), title},
        {QStringLiteral("是"), button},
        {QStringLiteral("否"), button},
        {QStringLiteral("Yes"), button},
        {QStringLiteral("No"), button},
        {QStringLiteral("确定"), button},
        {QStringLiteral("取消"), button},
    };
    for (const auto& [text, box] : texts) {
        const int pixelSize = box == status ? 20 : 16;
        for (int is4k : {0, 1}) {
            QTest::addRow("%s, 4K %d", qPrintable(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '))), is4k)
                << text << box << pixelSize << is4k;
        }
    }
}

// Every text of the window and the dialog, in every language, drawn by the application
// font alone: each character has a glyph in it, and the text fits its widget at the
// sheets' size and heaviest weight (the 4K sheets' bold).
void TestThemes::fontTexts()
{
    QFETCH(QString, text);
    QFETCH(QSize, box);
    QFETCH(int, pixelSize);
    QFETCH(int, is4k);

    const QString path = QStringLiteral(":/resources/fonts/HarmonyOS_Sans_SC_Regular.ttf");
    const QByteArray data = Sandbox::read(path);
    QCOMPARE(qFromBigEndian<quint32>(data.constData()), quint32(0x00010000)); // one TrueType face
    const QRawFont raw(data, pixelSize);
    QVERIFY(raw.isValid());
    for (const QChar c : text) {
        if (c != QLatin1Char('\n'))
            QVERIFY2(raw.supportsCharacter(c),
                     qPrintable(QStringLiteral("%1 (U+%2)").arg(c).arg(c.unicode(), 4, 16, QLatin1Char('0'))));
    }

    const int scale = is4k + 1;
    QFont font(QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(path)).value(0));
    font.setStyleStrategy(QFont::NoFontMerging);
    font.setPixelSize(pixelSize * scale);
    font.setWeight(is4k ? QFont::Black : QFont::Medium);
    const QRect needed = QFontMetrics(font).boundingRect(QRect(QPoint(0, 0), box * scale), Qt::AlignCenter, text);
    QVERIFY2(needed.width() <= box.width() * scale, qPrintable(QString::number(needed.width())));
    QVERIFY2(needed.height() <= box.height() * scale, qPrintable(QString::number(needed.height())));
}

void TestThemes::sheetRules_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<int>("is4k");

    for (int theme : {0, 1, 2}) {
        QTest::addRow("%s", kThemeNames[theme]) << theme << 0;
        QTest::addRow("%s 4K", kThemeNames[theme]) << theme << 1;
    }
}

// The rules in their order, each a complete block; every image named exists at the size
// of the widget it styles.
void TestThemes::sheetRules()
{
    QFETCH(int, theme);
    QFETCH(int, is4k);

    const QString sheet = readSheet(sheetPath(theme, is4k));
    QStringList selectors;
    QStringList blocks = sheet.split(QLatin1Char('}'));
    QCOMPARE(blocks.takeLast().trimmed(), QString());
    for (const QString& block : std::as_const(blocks)) {
        const QStringList parts = block.split(QLatin1Char('{'));
        QCOMPARE(parts.size(), 2);
        selectors << parts.first().simplified();
    }
    QStringList expected = {
        "MainWindow QLabel#label_background",
        "MainWindow QLabel#m_progress_status",
        "MainWindow QProgressBar",
        "MainWindow QPushButton",
        "MainWindow QProgressBar::chunk",
        "MainWindow QLabel#m_logo",
        "MainWindow QPushButton#pushButtonClose",
        "MainWindow QPushButton#pushButtonClose:hover",
    };
    if (theme != 2) {
        expected += {"TitleSingleDialog QLabel#label_back",
                     "TitleSingleDialog QLabel#label_title",
                     "TitleSingleDialog QPushButton",
                     "TitleSingleDialog QPushButton:hover",
                     "TitleSingleDialog QPushButton#btnMenu_confirm",
                     "TitleSingleDialog QPushButton#btnMenu_confirm:hover"};
    }
    QCOMPARE(selectors, expected);

    const int scale = is4k ? 2 : 1;
    static const QRegularExpression url(QStringLiteral("url\\(\"([^\"]*)\"\\)"));
    int images = 0;
    for (auto match = url.globalMatch(sheet); match.hasNext(); ++images) {
        const QString path = match.next().captured(1);
        const QSize expectedSize =
            path.contains(QStringLiteral("logo")) ? QSize(205, 64) * scale : QSize(24, 24) * scale;
        QCOMPARE(QImage(path).size(), expectedSize);
    }
    QCOMPARE(images, 3);
}

void TestThemes::windowLook_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<int>("is4k");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QString>("logo");

    const QColor backgrounds[] = {QColor(0xFDFEFE), QColor(0x3D3B39), QColor(0x28272A)};
    const QColor texts[] = {QColor(0x0A2132), QColor(Qt::white), QColor(Qt::white)};
    const QString prefixes[] = {QString(), QStringLiteral("golden_"), QStringLiteral("back_")};
    for (int theme : {0, 1, 2}) {
        for (int is4k : {0, 1}) {
            const QString size = is4k ? QStringLiteral("T410_128") : QStringLiteral("T205_64");
            QTest::addRow("%s, 4K %d", kThemeNames[theme], is4k)
                << theme << is4k << backgrounds[theme] << texts[theme]
                << QStringLiteral(":/resources/%1logo%2.png").arg(prefixes[theme], size);
        }
    }
    QTest::newRow("theme 3 looks golden")
        << 3 << 0 << backgrounds[1] << texts[1] << QStringLiteral(":/resources/golden_logoT205_64.png");
}

void TestThemes::windowLook()
{
    QFETCH(int, theme);
    QFETCH(int, is4k);
    QFETCH(QColor, background);
    QFETCH(QColor, text);
    QFETCH(QString, logo);

    gConfig.language_type = theme == 0 ? 2 : theme == 2 ? 1 : 0;
    applyTheme(theme, is4k);
    const auto window = quietWindow(*sandbox);
    MainWindowUi* ui = MainWindowTestAccess::ui(window.get());
    window->show();
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onSendToUpgrade"));
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onSendProgress", Q_ARG(int, 1000), Q_ARG(int, 620)));
    const QImage shot = render(window.get());

    // Rounded corners over a translucent window; the theme's background inside.
    QCOMPARE(qAlpha(shot.pixel(0, 0)), 0);
    QCOMPARE(QColor(shot.pixel(ui->m_progressBar->x(), ui->m_logo->geometry().center().y())), background);
    QVERIFY(largestDifference(shot, ui->m_logo->geometry(), composite(logo, background.rgb())) <= 12);
    QVERIFY(
        countPixels(shot, ui->m_progress_status->geometry(), [&](QRgb p) { return colourDistance(p, text.rgb()) < 40; })
        > 20);
    saveScreenshot(shot, QStringLiteral("look_window_%1_4k%2").arg(QLatin1String(kThemeNames[theme])).arg(is4k));

    // The error state keeps the theme's look around the red parts.
    QVERIFY(QMetaObject::invokeMethod(window.get(), "onSendToUpgradeStatus", Q_ARG(int, 1000)));
    const QImage error = render(window.get());
    QCOMPARE(QColor(error.pixel(ui->m_progressBar->x(), ui->m_logo->geometry().center().y())), background);
    saveScreenshot(error, QStringLiteral("look_error_%1_4k%2").arg(QLatin1String(kThemeNames[theme])).arg(is4k));
}

void TestThemes::dialogLook_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<int>("is4k");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("confirm");

    for (int is4k : {0, 1}) {
        QTest::addRow("light, 4K %d", is4k) << 0 << is4k << QColor(0xFCFDFD) << QColor(0xC2D2F7);
        QTest::addRow("golden, 4K %d", is4k) << 1 << is4k << QColor(0x3D3B39) << QColor(0xFED9AD);
        QTest::addRow("dark, 4K %d", is4k) << 2 << is4k << QColor() << QColor();
    }
}

// Light and golden style the dialog; the dark sheets have no dialog rules, so its
// background stays unpainted over the translucent dialog.
void TestThemes::dialogLook()
{
    QFETCH(int, theme);
    QFETCH(int, is4k);
    QFETCH(QColor, background);
    QFETCH(QColor, confirm);

    applyTheme(theme, is4k);
    TitleSingleDialog dialog(nullptr);
    dialog.findChild<QLabel*>(QStringLiteral("label_title"))
        ->setText(QStringLiteral("新版本安装包已下载，是否立即升级工具？"));
    auto* yes = dialog.findChild<QPushButton*>(QStringLiteral("btnMenu_confirm"));
    yes->setText(QStringLiteral("是"));
    dialog.findChild<QPushButton*>(QStringLiteral("btnMenu_cancel"))->setText(QStringLiteral("否"));
    dialog.show();
    const QImage shot = render(&dialog);
    const QPoint inBackground(dialog.width() / 2, dialog.height() - 4 * (is4k + 1));
    // Near the left end of the confirm button, clear of its centred text.
    const QPoint inConfirm(yes->x() + 6 * (is4k + 1), yes->geometry().center().y());

    QCOMPARE(qAlpha(shot.pixel(0, 0)), 0);
    if (background.isValid()) {
        QCOMPARE(QColor(shot.pixel(inBackground)), background);
        QVERIFY(colourDistance(shot.pixel(inConfirm), confirm.rgb()) < 12);
    } else {
        QCOMPARE(qAlpha(shot.pixel(inBackground)), 0);
        QVERIFY(countPixels(shot, yes->geometry(), [](QRgb p) { return qAlpha(p) > 0; }) > 0);
    }
    saveScreenshot(shot, QStringLiteral("look_dialog_%1_4k%2").arg(QLatin1String(kThemeNames[theme])).arg(is4k));
}

void TestThemes::dialogButtons_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<int>("is4k");

    for (int theme : {0, 1, 2}) {
        for (int is4k : {0, 1})
            QTest::addRow("%s, 4K %d", kThemeNames[theme], is4k) << theme << is4k;
    }
}

// Dark: no dialog rules, so both buttons keep the default look, frame and fill. Light and
// golden: the buttons' corners are rounded by the sheet's 8px (16px in 4K), not by the
// dialog's own 12px (24px).
void TestThemes::dialogButtons()
{
    QFETCH(int, theme);
    QFETCH(int, is4k);

    applyTheme(theme, is4k);
    TitleSingleDialog dialog(nullptr);
    auto* yes = dialog.findChild<QPushButton*>(QStringLiteral("btnMenu_confirm"));
    auto* no = dialog.findChild<QPushButton*>(QStringLiteral("btnMenu_cancel"));
    yes->setText(QStringLiteral("Yes"));
    no->setText(QStringLiteral("No"));
    dialog.show();
    const QImage shot = render(&dialog);
    saveScreenshot(shot, QStringLiteral("look_buttons_%1_4k%2").arg(QLatin1String(kThemeNames[theme])).arg(is4k));

    const int scale = is4k + 1;
    for (QPushButton* button : {yes, no}) {
        const QRect rect = button->geometry();
        if (theme == 2) {
            const int opaque = countPixels(shot, rect, [](QRgb p) { return qAlpha(p) > 200; });
            QVERIFY2(opaque > rect.width() * rect.height() / 2, qPrintable(button->objectName()));
            continue;
        }
        // Just beside the button, and the button's own colour at the same column halfway down.
        const QRgb background = shot.pixel(rect.left() - 4 * scale, rect.top());
        // Each corner: its outermost pixel is the dialog's background; two pixels in and
        // three along lies inside an 8px arc but outside a 12px one.
        for (const bool right : {false, true}) {
            for (const bool bottom : {false, true}) {
                const auto at = [&](int dx, int dy) {
                    return QPoint(right ? rect.right() - dx : rect.left() + dx,
                                  bottom ? rect.bottom() - dy : rect.top() + dy);
                };
                const QRgb fill = shot.pixel(at(2 * scale, 0).x(), rect.center().y());
                const QString where = QStringLiteral("%1 corner %2%3").arg(button->objectName()).arg(right).arg(bottom);
                QVERIFY2(colourDistance(fill, background) > 15, qPrintable(where));
                QVERIFY2(colourDistance(shot.pixel(at(0, 0)), background) < 8, qPrintable(where));
                QVERIFY2(colourDistance(shot.pixel(at(2 * scale, 3 * scale)), fill) < 8, qPrintable(where));
                QVERIFY2(colourDistance(shot.pixel(at(3 * scale, 2 * scale)), fill) < 8, qPrintable(where));
            }
        }
    }
}

void TestThemes::englishQuestion_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<int>("is4k");
    QTest::addColumn<QColor>("text");

    for (int is4k : {0, 1}) {
        QTest::addRow("light, 4K %d", is4k) << 0 << is4k << QColor(0x0A2132);
        QTest::addRow("golden, 4K %d", is4k) << 1 << is4k << QColor(Qt::white);
    }
}

// The English upgrade question is drawn whole inside its label: text at both sides of
// its middle, none in the label's outermost columns.
void TestThemes::englishQuestion()
{
    QFETCH(int, theme);
    QFETCH(int, is4k);
    QFETCH(QColor, text);

    applyTheme(theme, is4k);
    TitleSingleDialog dialog(nullptr);
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("label_title"));
    label->setText(QStringLiteral("The new version has been downloaded. Upgrade now?"));
    dialog.show();
    const QImage shot = render(&dialog);
    saveScreenshot(shot, QStringLiteral("look_question_%1_4k%2").arg(QLatin1String(kThemeNames[theme])).arg(is4k));

    const QRect rect = label->geometry();
    const auto inkIn = [&](int left, int width) {
        return countPixels(shot, QRect(left, rect.top(), width, rect.height()),
                           [&](QRgb p) { return colourDistance(p, text.rgb()) < 120; });
    };
    const int edge = 3 * (is4k + 1);
    QCOMPARE(inkIn(rect.left(), edge), 0);
    QCOMPARE(inkIn(rect.right() - edge + 1, edge), 0);
    QVERIFY(inkIn(rect.left(), rect.width() / 2) > 20);
    QVERIFY(inkIn(rect.center().x(), rect.width() / 2) > 20);
}

QTEST_MAIN(TestThemes)
#include "tst_Themes.moc"
