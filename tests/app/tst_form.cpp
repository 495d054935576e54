// Proves the built window matches its form: object names, classes and creation
// order of the widgets, their geometries, size policies and texts, the fixed
// 650 x 250 size, the locale, the progress bar at 0 of 0..100, an empty tool
// bar in the top area and an empty status bar, the four slots in their
// meta-object order, and that each button click runs exactly its own slot,
// once. The slot calls are observed with Qt's signal-spy hooks, so this holds
// whatever the slot bodies do; dialogs those bodies open are dismissed.
// Limits: offscreen platform; geometry is checked as set, not as rendered.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QtCore/private/qobject_p.h>
#include <QtTest>
#include <QtWidgets>

#include <vector>

namespace {

// Absolute meta-method indices of slots the window ran, recorded by the hook.
std::vector<int> windowSlotsRun;
const QObject *watchedWindow = nullptr;

void slotBegin(QObject *receiver, int methodIndex, void **)
{
    if (receiver == watchedWindow)
        windowSlotsRun.push_back(methodIndex);
}

struct Expected
{
    const char *name;
    const char *className;
    QRect geometry;
    const char *text;
};

// In creation order; texts are those of QPushButton/QLabel, nullptr when none.
const Expected kChildren[] = {
    {"pushButton", "QPushButton", {20, 10, 75, 23}, "Refresh"},
    {"cBInput", "QComboBox", {20, 60, 101, 22}, nullptr},
    {"cBOutput", "QComboBox", {130, 60, 101, 22}, nullptr},
    {"label", "QLabel", {20, 40, 101, 16}, "Input midi devices:"},
    {"label_2", "QLabel", {130, 40, 101, 16}, "Output midi devices:"},
    {"pushButton_2", "QPushButton", {240, 60, 91, 23}, "Open"},
    {"textEdit", "QTextEdit", {350, 10, 281, 151}, nullptr},
    {"pushButton_6", "QPushButton", {240, 100, 91, 21}, "Open FW"},
    {"lineEdit", "QLineEdit", {20, 100, 211, 20}, nullptr},
    {"progressBar", "QProgressBar", {130, 140, 201, 23}, nullptr},
    {"pushButton_8", "QPushButton", {20, 140, 91, 21}, "Upload FW"},
};

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowIsFixedSizeEnglishAndTitled();
    void childrenInCreationOrder();
    void sizePolicies();
    void startingValues();
    void toolBarAndStatusBarAreEmpty();
    void slotsInMetaObjectOrder();
    void eachButtonRunsItsSlotOncePerClick_data();
    void eachButtonRunsItsSlotOncePerClick();

private:
    MainWindow *window = nullptr;
};

void TestForm::init()
{
    window = new MainWindow;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestForm::cleanup()
{
    delete window;
    window = nullptr;
}

void TestForm::windowIsFixedSizeEnglishAndTitled()
{
    QCOMPARE(window->objectName(), QString("MainWindow"));
    QCOMPARE(window->metaObject()->className(), "MainWindow");
    QCOMPARE(window->size(), QSize(650, 250));
    QCOMPARE(window->minimumSize(), QSize(650, 250));
    QCOMPARE(window->maximumSize(), QSize(650, 250));
    window->resize(800, 400); // the user cannot make it bigger...
    QCOMPARE(window->size(), QSize(650, 250));
    window->resize(100, 100); // ...nor smaller
    QCOMPARE(window->size(), QSize(650, 250));
    QCOMPARE(window->windowTitle(), QString("Tarnwick Firmware Updater"));
    QCOMPARE(window->locale(), QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(window->ui->textEdit->locale(), window->locale()); // inherited
}

void TestForm::childrenInCreationOrder()
{
    QWidget *central = window->centralWidget();
    QVERIFY(central);
    QCOMPARE(central, window->ui->centralWidget);
    QCOMPARE(central->objectName(), QString("centralWidget"));
    QCOMPARE(central->metaObject()->className(), "QWidget");
    QVERIFY(central->layout() == nullptr);

    // children() keeps creation order; the tab chain follows it too.
    const QObjectList children = central->children();
    QCOMPARE(children.size(), int(std::size(kChildren)));
    QWidgetList tabbable;
    for (size_t i = 0; i < std::size(kChildren); ++i) {
        const Expected &e = kChildren[i];
        auto *widget = qobject_cast<QWidget *>(children[int(i)]);
        QVERIFY(widget);
        QCOMPARE(widget->objectName(), QString(e.name));
        QCOMPARE(widget->metaObject()->className(), e.className);
        QCOMPARE(widget->geometry(), e.geometry);
        if (auto *button = qobject_cast<QPushButton *>(widget))
            QCOMPARE(button->text(), QString(e.text));
        if (auto *label = qobject_cast<QLabel *>(widget))
            QCOMPARE(label->text(), QString(e.text));
        if (widget->focusPolicy() & Qt::TabFocus)
            tabbable.append(widget);
    }
    // No explicit tab order: Tab moves from one widget to the next created.
    for (int i = 0; i + 1 < tabbable.size(); ++i) {
        QWidget *next = tabbable[i]->nextInFocusChain();
        while (!tabbable.contains(next))
            next = next->nextInFocusChain();
        QCOMPARE(next->objectName(), tabbable[i + 1]->objectName());
    }
    QVERIFY(tabbable.size() >= 7); // four buttons, two lists, the line edit at least
    QCOMPARE(window->ui->pushButton, central->findChild<QPushButton *>("pushButton"));
    QCOMPARE(window->ui->pushButton_8, central->findChild<QPushButton *>("pushButton_8"));
    QCOMPARE(window->ui->cBInput, central->findChild<QComboBox *>("cBInput"));
    QCOMPARE(window->ui->lineEdit, central->findChild<QLineEdit *>("lineEdit"));
}

void TestForm::sizePolicies()
{
    const QSizePolicy fixed(QSizePolicy::Fixed, QSizePolicy::Fixed);
    QCOMPARE(window->sizePolicy(), fixed);
    QCOMPARE(window->ui->mainToolBar->sizePolicy(), fixed);
    QCOMPARE(window->ui->pushButton->sizePolicy(),
             QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred));
    // The other buttons keep a push button's own default (Minimum, Fixed).
    QCOMPARE(window->ui->pushButton_2->sizePolicy(), QPushButton().sizePolicy());
}

void TestForm::startingValues()
{
    QCOMPARE(window->ui->progressBar->value(), 0);
    QCOMPARE(window->ui->progressBar->minimum(), 0);
    QCOMPARE(window->ui->progressBar->maximum(), 100);
    QVERIFY(window->ui->lineEdit->text().isEmpty());
    QVERIFY(!window->ui->lineEdit->isReadOnly());
    QVERIFY(window->ui->textEdit->toPlainText().isEmpty());
    QVERIFY(!window->ui->textEdit->isReadOnly());
    QVERIFY(!window->ui->cBInput->isEditable());
    QVERIFY(!window->ui->cBOutput->isEditable());
    for (QWidget *w : window->findChildren<QWidget *>())
        QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
}

void TestForm::toolBarAndStatusBarAreEmpty()
{
    QToolBar *toolBar = window->ui->mainToolBar;
    QCOMPARE(toolBar->objectName(), QString("mainToolBar"));
    QCOMPARE(toolBar->parent(), window);
    QCOMPARE(window->toolBarArea(toolBar), Qt::TopToolBarArea);
    QVERIFY(toolBar->actions().isEmpty());
    QCOMPARE(window->findChildren<QToolBar *>().size(), 1);

    QStatusBar *statusBar = window->ui->statusBar;
    QCOMPARE(statusBar->objectName(), QString("statusBar"));
    QCOMPARE(window->statusBar(), statusBar);
    QVERIFY(statusBar->currentMessage().isEmpty());
    QVERIFY(statusBar->findChildren<QLabel *>().isEmpty());
}

void TestForm::slotsInMetaObjectOrder()
{
    const QMetaObject &meta = MainWindow::staticMetaObject;
    const char *const names[] = {"on_pushButton_clicked()", "on_pushButton_2_clicked()",
                                 "on_pushButton_6_clicked()", "on_pushButton_8_clicked()"};
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 4);
    for (int i = 0; i < 4; ++i) {
        const QMetaMethod m = meta.method(meta.methodOffset() + i);
        QCOMPARE(m.methodSignature(), QByteArray(names[i]));
        QCOMPARE(m.methodType(), QMetaMethod::Slot);
        QCOMPARE(m.access(), QMetaMethod::Private);
    }
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
}

void TestForm::eachButtonRunsItsSlotOncePerClick_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("slot");
    QTest::newRow("Refresh") << "pushButton" << QByteArray("on_pushButton_clicked()");
    QTest::newRow("Open") << "pushButton_2" << QByteArray("on_pushButton_2_clicked()");
    QTest::newRow("Open FW") << "pushButton_6" << QByteArray("on_pushButton_6_clicked()");
    QTest::newRow("Upload FW") << "pushButton_8" << QByteArray("on_pushButton_8_clicked()");
}

void TestForm::eachButtonRunsItsSlotOncePerClick()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, slot);
    auto *target = window->findChild<QPushButton *>(button);
    QVERIFY(target);
    const int slotIndex = MainWindow::staticMetaObject.indexOfSlot(slot);
    QVERIFY(slotIndex >= 0);

    // A slot may answer with a modal box or file dialog; close it as a user would.
    QTimer dismiss;
    connect(&dismiss, &QTimer::timeout, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    dismiss.start(20);

    // Qt keeps the pointer, so the set must outlive the registration.
    static QSignalSpyCallbackSet hooks = {nullptr, slotBegin, nullptr, nullptr};
    windowSlotsRun.clear();
    watchedWindow = window;
    qt_register_signal_spy_callbacks(&hooks);
    QTest::mouseClick(target, Qt::LeftButton);
    QTest::mouseClick(target, Qt::LeftButton);
    qt_register_signal_spy_callbacks(nullptr);
    watchedWindow = nullptr;

    // Each click ran this slot once; no other of the four ran.
    std::vector<int> fourSlots;
    const int first = MainWindow::staticMetaObject.methodOffset();
    for (int index : windowSlotsRun)
        if (index >= first && index < first + 4)
            fourSlots.push_back(index);
    QCOMPARE(fourSlots, std::vector<int>({slotIndex, slotIndex}));
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
