// The control window and the About window as Qt builds them, on the offscreen platform. The tests
// run inside the program's own event loop: main() starts the Qt backend with a hidden host form
// whose load handler queues the test run, so the application is set up exactly as the program
// sets it up (font substitution, screen resolution, running-copy check).

#include "forms/frmAbout.h"
#include "forms/frmOptions.h"
#include "forms/frmSetting.h"
#include "platform/platform.h"
#include "platform/qt/qt_backend.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace {

int test_result = 1;

QWidget* Window(const char* name) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String(name) && widget->isVisible()) {
            return widget;
        }
    }
    return nullptr;
}

// A layout size in twips as pixels at the screen's resolution.
int Pixels(int twips) {
    return qRound(twips * QGuiApplication::primaryScreen()->logicalDotsPerInch() / 1440.0);
}

class QtWindows : public testing::Test {
  protected:
    void TearDown() override {
        platform::Unload(frmAbout);
        platform::Unload(frmSetting);
        platform::Unload(frmOptions);
    }
};

// Where the windows show, their buttons and the painted text are checked end to end under Xvfb;
// here what a screenshot cannot tell.
TEST_F(QtWindows, WindowsAreFixedInSizeAndTheAboutTextIsSetInAJapaneseGothicThatFits) {
    platform::Show(frmSetting);
    QWidget* setting = Window("frmSetting");
    ASSERT_NE(setting, nullptr);
    auto* quit = setting->findChild<QPushButton*>(QStringLiteral("cmdQuit"));
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(setting->focusWidget(), quit);
    EXPECT_EQ(quit->nextInFocusChain(),
              setting->findChild<QPushButton*>(QStringLiteral("cmdAbout")));
    // The title bar's close unloads the control window; it shows again when asked.
    setting->close();
    EXPECT_EQ(Window("frmSetting"), nullptr);
    platform::Show(frmSetting);
    setting = Window("frmSetting");
    ASSERT_NE(setting, nullptr);

    // The test binary's folder holds no ABOUT.MID: the window shows without music at once.
    setting->findChild<QPushButton*>(QStringLiteral("cmdAbout"))->click();
    platform::DoEvents();
    QWidget* window = Window("frmAbout");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->focusWidget(), window->findChild<QPushButton*>(QStringLiteral("Command1")));
    for (QWidget* shown : {setting, window}) {
        EXPECT_EQ(shown->minimumSize(), shown->maximumSize()) << "a window must not be resizable";
        // Enter and Esc must press nothing: no button is the default one.
        for (QPushButton* button : shown->findChildren<QPushButton*>()) {
            EXPECT_FALSE(button->isDefault() || button->autoDefault())
                << button->text().toStdString();
        }
    }
    auto* picture = window->findChild<QLabel*>(QStringLiteral("Picture1"));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->pixmap().size(), QSize(32, 32));
    EXPECT_EQ(picture->geometry(), QRect(Pixels(225), Pixels(225), Pixels(540), Pixels(540)));

    auto* label = window->findChild<QLabel*>(QStringLiteral("Label1"));
    ASSERT_NE(label, nullptr);
    // The text itself is checked on the fake backend; Qt gets it with plain line breaks.
    EXPECT_EQ(label->text().split(QLatin1Char('\n')).size(), 5) << label->text().toStdString();
    EXPECT_FALSE(label->text().contains(QLatin1Char('\r')));
    // The Japanese face asked for is not installed; a Japanese proportional gothic stands in
    // for the whole text, not a Latin face with borrowed glyphs.
    const QFontInfo font(label->font());
    EXPECT_TRUE(font.family().startsWith(QStringLiteral("IPAPGothic")) ||
                font.family().startsWith(QStringLiteral("IPAGothic")))
        << font.family().toStdString();
    EXPECT_EQ(label->font().pointSize(), 12);
    EXPECT_FALSE(label->font().bold());
    // All five lines must be seen: wrapped at the label's width, the text still fits its height.
    const QRect needed = label->fontMetrics().boundingRect(
        QRect(0, 0, label->width(), 10000), Qt::AlignHCenter | Qt::TextWordWrap, label->text());
    EXPECT_LE(needed.height(), label->height()) << "the last lines of the About text are cut off";
}

// Tab visits every control of the settings window in the order of the layout, each is named for
// a screen reader and shows its whole text, and Escape, wherever the focus is, is Cancel.
TEST_F(QtWindows, SettingsWindowTabsThroughNamedControlsThatFitTheirText) {
    platform::Show(frmOptions);
    QWidget* window = Window("frmOptions");
    ASSERT_NE(window, nullptr);
    QStringList order, expected;
    for (int hour = 0; hour < 24; ++hour) {
        expected << QStringLiteral("chkQuiet%1").arg(hour);
    }
    expected << QStringLiteral("chkBusy") << QStringLiteral("sldVolume")
             << QStringLiteral("cmdPlay") << QStringLiteral("cboQuarters")
             << QStringLiteral("cboSpeak") << QStringLiteral("cmdOK")
             << QStringLiteral("cmdCancel");
    QWidget* control = window->focusWidget();
    ASSERT_NE(control, nullptr);
    do {
        if (control->parentWidget() == window && (control->focusPolicy() & Qt::TabFocus)) {
            order << control->objectName();
            EXPECT_FALSE(
                QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).isEmpty())
                << control->objectName().toStdString();
            // A check box's hint is its box and whole text (a button's has a minimum width).
            if (qobject_cast<QCheckBox*>(control) != nullptr) {
                EXPECT_LE(control->sizeHint().width(), control->width())
                    << control->objectName().toStdString() << " cuts its text";
            }
        }
        control = control->nextInFocusChain();
    } while (control != window->focusWidget() && order.size() <= expected.size());
    EXPECT_EQ(order, expected);
    EXPECT_EQ(window->findChild<QWidget*>(QStringLiteral("chkQuiet7"))->accessibleName(),
              QStringLiteral("Quiet at 7:00"));
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window->findChild<QWidget*>(QStringLiteral("sldVolume")), &escape);
    EXPECT_EQ(Window("frmOptions"), nullptr);
}

extern const platform::Form kHost;

// The host form stands in for the program's hidden start-up window.
void HostLoad() {
    QTimer::singleShot(0, [] {
        test_result = RUN_ALL_TESTS();
        // Unloading the last form ends the event loop, as it ends the program.
        platform::Unload(kHost);
    });
}

const platform::Form kHost{
    {.name = "host", .caption = "host", .width = 1500, .height = 1500, .visible = false},
    {{"Form_Load", HostLoad}},
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int status = platform::Run(kHost, argc, argv);
    return status != 0 ? status : test_result;
}
