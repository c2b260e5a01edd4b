// The control window and the About window as Qt builds them, on the offscreen platform. The tests
// run inside the program's own event loop: main() starts the Qt backend with a hidden host form
// whose load handler queues the test run, so the application is set up exactly as the program
// sets it up (font substitution, screen resolution, running-copy check).

#include "platform/platform.h"
#include "platform/qt/qt_backend.h"
#include "windows/frmAbout.h"
#include "windows/frmSetting.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
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

QRect PixelRect(int left, int top, int width, int height) {
    return {Pixels(left), Pixels(top), Pixels(width), Pixels(height)};
}

void ExpectPlainButton(QPushButton* button, const char* text, QRect geometry) {
    ASSERT_NE(button, nullptr) << text;
    EXPECT_EQ(button->text(), QString::fromUtf8(text));
    EXPECT_EQ(button->geometry(), geometry) << text;
    // Enter and Esc must press nothing: neither button is the default one.
    EXPECT_FALSE(button->isDefault()) << text;
    EXPECT_FALSE(button->autoDefault()) << text;
}

class QtWindows : public testing::Test {
  protected:
    void TearDown() override {
        platform::Unload(frmAbout);
        platform::Unload(frmSetting);
    }
};

TEST_F(QtWindows, ControlWindowIsBuiltFromItsLayout) {
    platform::Show(frmSetting);
    platform::DoEvents();
    QWidget* window = Window("frmSetting");
    ASSERT_NE(window, nullptr);

    // Size and place on the screen are checked end to end under Xvfb.
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Velmorin"));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the window must not be resizable";

    auto* quit = window->findChild<QPushButton*>(QStringLiteral("cmdQuit"));
    auto* about = window->findChild<QPushButton*>(QStringLiteral("cmdAbout"));
    ExpectPlainButton(quit, "Alarm Quit", PixelRect(855, 2340, 1230, 525));
    ExpectPlainButton(about, "About", PixelRect(2880, 405, 600, 420));
    ASSERT_TRUE(quit != nullptr && about != nullptr);
    EXPECT_EQ(window->focusWidget(), quit);
    EXPECT_EQ(quit->nextInFocusChain(), about);

    auto* form = dynamic_cast<platform::qt::FormWindow*>(window);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->background.size(), QSize(252, 250));

    // Dismissed from its title bar, the window is unloaded and the next show loads it afresh.
    window->close();
    EXPECT_FALSE(platform::IsLoaded(frmSetting));
    platform::Show(frmSetting);
    EXPECT_TRUE(platform::IsLoaded(frmSetting));
}

TEST_F(QtWindows, AboutButtonOpensTheAboutWindowAndOkClosesIt) {
    // The test binary's folder holds no ABOUT.MID: the window shows without music at once.
    platform::Show(frmSetting);
    QWidget* control = Window("frmSetting");
    ASSERT_NE(control, nullptr);
    control->findChild<QPushButton*>(QStringLiteral("cmdAbout"))->click();
    platform::DoEvents();
    QWidget* window = Window("frmAbout");
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(window->windowTitle(), QStringLiteral("Velmorinについて"));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());

    auto* ok = window->findChild<QPushButton*>(QStringLiteral("Command1"));
    ExpectPlainButton(ok, "OK", PixelRect(1710, 1800, 870, 465));
    EXPECT_EQ(window->focusWidget(), ok);

    auto* picture = window->findChild<QLabel*>(QStringLiteral("Picture1"));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->geometry(), PixelRect(225, 225, 540, 540));
    EXPECT_EQ(picture->pixmap().size(), QSize(32, 32));

    auto* label = window->findChild<QLabel*>(QStringLiteral("Label1"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->geometry(), PixelRect(855, 270, 2760, 1365));
    EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
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
    EXPECT_TRUE(QFontMetrics(label->font()).inFont(QChar(0x30D5)));

    // All five lines must be seen: wrapped at the label's width, the text still fits its height.
    const QRect needed = label->fontMetrics().boundingRect(
        QRect(0, 0, label->width(), 10000), Qt::AlignHCenter | Qt::TextWordWrap, label->text());
    EXPECT_LE(needed.height(), label->height()) << "the last lines of the About text are cut off";

    ok->click();
    EXPECT_FALSE(platform::IsLoaded(frmAbout));
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(control->isVisible());
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
