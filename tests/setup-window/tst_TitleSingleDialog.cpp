// The confirm dialog: forms, answers clicked while it polls, keys, centring on the
// progress window and dragging.
#include "TitleSingleDialog.h"
#include "WindowFixture.h"

#include <QMouseEvent>
#include <QTest>
#include <QTimer>

using namespace WindowFixture;

class TestTitleSingleDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void forms_data();
    void forms();
    void answer_data();
    void answer();
    void keysChangeNothing_data();
    void keysChangeNothing();
    void dialogNamesChangeNothing();
    void centring();
    void dragging_data();
    void dragging();
    void maskFlag_data();
    void maskFlag();
};

void TestTitleSingleDialog::init()
{
    gConfig = GlobalConfig();
    qApp->setStyleSheet(QString());
}

void TestTitleSingleDialog::forms_data()
{
    QTest::addColumn<int>("is4k");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");

    QTest::newRow("normal label_title") << 0 << "label_title"
                                        << "QLabel" << QRect(13, 24, 420, 24);
    QTest::newRow("normal btnMenu_cancel") << 0 << "btnMenu_cancel"
                                           << "QPushButton" << QRect(50, 68, 160, 40);
    QTest::newRow("normal btnMenu_confirm") << 0 << "btnMenu_confirm"
                                            << "QPushButton" << QRect(240, 68, 160, 40);
    QTest::newRow("normal label_back") << 0 << "label_back"
                                       << "QLabel" << QRect(0, 0, 446, 128);
    QTest::newRow("4K label_title") << 1 << "label_title"
                                    << "QLabel" << QRect(26, 48, 840, 48);
    QTest::newRow("4K btnMenu_cancel") << 1 << "btnMenu_cancel"
                                       << "QPushButton" << QRect(80, 136, 320, 80);
    QTest::newRow("4K btnMenu_confirm") << 1 << "btnMenu_confirm"
                                        << "QPushButton" << QRect(490, 136, 320, 80);
    QTest::newRow("4K label_back") << 1 << "label_back"
                                   << "QLabel" << QRect(0, 0, 892, 256);
}

void TestTitleSingleDialog::forms()
{
    QFETCH(int, is4k);
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QRect, geometry);

    gConfig.is_4k_screen = is4k;
    TitleSingleDialog dialog(nullptr);
    QCOMPARE(dialog.objectName(), is4k ? QStringLiteral("TitleSingleDialog4K") : QStringLiteral("TitleSingleDialog"));
    QCOMPARE(dialog.size(), is4k ? QSize(892, 256) : QSize(446, 128));
    QCOMPARE(dialog.styleSheet(), is4k ? QStringLiteral("TitleSingleDialog { border-radius: 24px; }")
                                       : QStringLiteral("TitleSingleDialog { border-radius: 12px; }"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Salvix"));
    QVERIFY(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(dialog.testAttribute(Qt::WA_TranslucentBackground));

    auto* widget = dialog.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget(), &dialog);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->geometry(), geometry);

    QStringList stacking;
    for (QObject* child : dialog.children()) {
        if (child->isWidgetType())
            stacking << child->objectName();
    }
    QCOMPARE(stacking, QStringList({"label_back", "label_title", "btnMenu_cancel", "btnMenu_confirm"}));
    QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("btnMenu_confirm"))->text(), QStringLiteral("确定"));
    QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("btnMenu_cancel"))->text(), QStringLiteral("取消"));
}

void TestTitleSingleDialog::answer_data()
{
    QTest::addColumn<int>("is4k");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("result");

    for (int is4k : {0, 1}) {
        QTest::addRow("confirm, 4K %d", is4k) << is4k << "btnMenu_confirm" << 1;
        QTest::addRow("cancel, 4K %d", is4k) << is4k << "btnMenu_cancel" << 0;
    }
}

// The buttons are clicked while doModalByTopLevel polls; the texts are those passed in.
void TestTitleSingleDialog::answer()
{
    QFETCH(int, is4k);
    QFETCH(QString, button);
    QFETCH(int, result);

    gConfig.is_4k_screen = is4k;
    TitleSingleDialog dialog(nullptr);
    QStringList seen;
    QTimer::singleShot(100, &dialog, [&] {
        seen << dialog.findChild<QLabel*>(QStringLiteral("label_title"))->text()
             << dialog.findChild<QPushButton*>(QStringLiteral("btnMenu_confirm"))->text()
             << dialog.findChild<QPushButton*>(QStringLiteral("btnMenu_cancel"))->text()
             << (dialog.isModal() ? QStringLiteral("modal") : QStringLiteral("modeless"));
        QTest::mouseClick(dialog.findChild<QPushButton*>(button), Qt::LeftButton);
    });
    QCOMPARE(
        dialog.doModalByTopLevel(QStringLiteral("Upgrade now?"), QStringLiteral("Yes"), QStringLiteral("No"), true),
        result);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(seen, QStringList({"Upgrade now?", "Yes", "No", "modal"}));
}

void TestTitleSingleDialog::keysChangeNothing_data()
{
    QTest::addColumn<int>("key");

    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
}

// The key goes where a user's key goes: to the widget with the focus.
void TestTitleSingleDialog::keysChangeNothing()
{
    QFETCH(int, key);

    TitleSingleDialog dialog(nullptr);
    bool openAfterKey = false;
    QTimer::singleShot(100, &dialog, [&] {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &dialog;
        QTest::keyClick(target, Qt::Key(key));
        QTest::keyClick(&dialog, Qt::Key(key));
        openAfterKey = dialog.isVisible();
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnMenu_cancel")), Qt::LeftButton);
    });
    QCOMPARE(dialog.doModalByTopLevel(QStringLiteral("?"), QStringLiteral("Yes"), QStringLiteral("No"), true), 0);
    QVERIFY(openAfterKey);
}

// A slot callers invoke by name; the names it keeps change nothing the user sees.
void TestTitleSingleDialog::dialogNamesChangeNothing()
{
    TitleSingleDialog dialog(nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QImage before = dialog.grab().toImage();
    const QStringList names{"a", "b"};
    QVERIFY(QMetaObject::invokeMethod(&dialog, "setDialogNames", Q_ARG(QStringList, names)));
    QCOMPARE(dialog.grab().toImage(), before);
}

void TestTitleSingleDialog::centring()
{
    Sandbox sandbox;
    QVERIFY(sandbox.isValid());
    TitleSingleDialog alone(nullptr);
    QWidget elsewhere;
    elsewhere.setGeometry(700, 500, 100, 100);
    alone.setMainWidget(&elsewhere);
    alone.move(40, 30);
    alone.show();
    QCOMPARE(alone.pos(), QPoint(40, 30));
    alone.hide();

    const auto window = quietWindow(sandbox);
    window->move(101, 51);
    window->show();
    TitleSingleDialog dialog(nullptr);
    dialog.setMainWidget(&elsewhere);
    dialog.show();
    // The window's centre (400, 160), as QRect::center gives it, less half the dialog.
    QCOMPARE(dialog.geometry().topLeft(), QPoint(400 - 446 / 2, 160 - 128 / 2));
    dialog.hide();
    window->move(-33, 7);
    dialog.show();
    QCOMPARE(dialog.geometry().topLeft(), QPoint((-33 + 566) / 2 - 223, (7 + 226) / 2 - 64));
}

void TestTitleSingleDialog::dragging_data()
{
    QTest::addColumn<int>("pressed");
    QTest::addColumn<int>("held");
    QTest::addColumn<bool>("releasedFirst");
    QTest::addColumn<QPoint>("moved");

    QTest::newRow("left-button drag") << int(Qt::LeftButton) << int(Qt::LeftButton) << false << QPoint(50, 30);
    QTest::newRow("right-button drag") << int(Qt::RightButton) << int(Qt::RightButton) << false << QPoint();
    QTest::newRow("right press, left held") << int(Qt::RightButton) << int(Qt::LeftButton) << false << QPoint();
    QTest::newRow("move without a button") << 0 << 0 << false << QPoint();
    QTest::newRow("left press, other button held") << int(Qt::LeftButton) << int(Qt::RightButton) << false << QPoint();
    QTest::newRow("after the release") << int(Qt::LeftButton) << int(Qt::LeftButton) << true << QPoint();
}

void TestTitleSingleDialog::dragging()
{
    QFETCH(int, pressed);
    QFETCH(int, held);
    QFETCH(bool, releasedFirst);
    QFETCH(QPoint, moved);

    TitleSingleDialog dialog(nullptr);
    dialog.move(200, 200);
    dialog.show();
    const QPoint start = dialog.pos();
    const QPointF local(10, 10);
    const QPointF global = QPointF(start) + local;
    const auto send = [&](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons, QPointF at) {
        QMouseEvent event(type, at - QPointF(dialog.pos()), at, button, buttons, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &event);
    };
    if (pressed)
        send(QEvent::MouseButtonPress, Qt::MouseButton(pressed), Qt::MouseButtons(pressed), global);
    if (releasedFirst)
        send(QEvent::MouseButtonRelease, Qt::MouseButton(pressed), Qt::NoButton, global);
    send(QEvent::MouseMove, Qt::NoButton, Qt::MouseButtons(held), global + QPointF(50, 30));
    QCOMPARE(dialog.pos(), start + moved);
}

void TestTitleSingleDialog::maskFlag_data()
{
    QTest::addColumn<int>("is4k");
    QTest::addColumn<bool>("mask");
    QTest::addColumn<QString>("name");

    QTest::newRow("normal, no mask") << 0 << false << "TitleSingleDialog";
    QTest::newRow("4K, no mask") << 1 << false << "TitleSingleDialog4K";
    QTest::newRow("normal, mask") << 0 << true << "MaskWidget";
    QTest::newRow("4K, mask") << 1 << true << "MaskWidget";
}

void TestTitleSingleDialog::maskFlag()
{
    QFETCH(int, is4k);
    QFETCH(bool, mask);
    QFETCH(QString, name);

    gConfig.is_4k_screen = is4k;
    TitleSingleDialog dialog(nullptr);
    QTimer::singleShot(50, &dialog, [&] { dialog.reject(); });
    QCOMPARE(dialog.doModalByTopLevel(QStringLiteral("?"), QStringLiteral("Yes"), QStringLiteral("No"), mask), 0);
    QCOMPARE(dialog.objectName(), name);
}

QTEST_MAIN(TestTitleSingleDialog)
#include "tst_TitleSingleDialog.moc"
