#include "form2.h"
#include "window_fixture.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>

namespace {

class LayoutTest : public WindowTest {
protected:
    void SetUp() override
    {
        WriteWellFormedPackage();
        form = std::make_unique<TForm2>();
    }
    std::unique_ptr<TForm2> form;
};

struct Placement {
    const char *name;
    QWidget *widget;
    QWidget *parent;
    QRect geometry;
    bool shown;
};

TEST_F(LayoutTest, EveryControlInItsPlace)
{
    TForm2 &f = *form;
    const Placement table[] = {
        {"Panel1", f.Panel1, &f, {0, 0, 965, 477}, true},
        {"Image2ad", f.Image2ad, f.Panel1, {0, 0, 965, 477}, true},
        {"Panel3", f.Panel3, &f, {0, 477, 965, 135}, true},
        {"Button1", f.Button1, f.Panel3, {717, 48, 129, 33}, true},
        {"ComboBox1", f.ComboBox1, f.Panel3, {133, 56, 153, 22}, true},
        {"Label3", f.Label3, f.Panel3, {69, 60, 61, 17}, true},
        {"Panel2", f.Panel2, f.Panel3, {0, 0, 965, 135}, false},
        {"label1", f.label1, f.Panel2, {152, 40, 657, 17}, true},
        {"loading", f.loading, f.Panel2, {184, 64, 585, 20}, true},
        {"bfb", f.bfb, f.Panel2, {416, 89, 120, 18}, true},
    };
    f.show();
    for (const Placement &row : table) {
        SCOPED_TRACE(row.name);
        ASSERT_NE(row.widget, nullptr);
        EXPECT_EQ(row.widget->parentWidget(), row.parent);
        EXPECT_EQ(row.widget->geometry(), row.geometry);
        EXPECT_EQ(!row.widget->isHidden(), row.shown);
    }
    EXPECT_FALSE(f.label1->isVisible()) << "the progress panel starts hidden";
}

TEST_F(LayoutTest, ProgressPanelIsTheTopmostChildOfTheLowerPanel)
{
    QList<QWidget *> order;
    for (QObject *child : form->Panel3->children()) {
        if (auto *widget = qobject_cast<QWidget *>(child))
            order.append(widget);
    }
    const QList<QWidget *> expected{form->Button1, form->ComboBox1, form->Label3, form->Panel2};
    EXPECT_EQ(order, expected);
}

TEST_F(LayoutTest, FixedSizeWithCloseAndMinimizeOnly)
{
    EXPECT_EQ(form->minimumSize(), QSize(965, 612));
    EXPECT_EQ(form->maximumSize(), QSize(965, 612));
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
}

TEST_F(LayoutTest, InitialContents)
{
    EXPECT_EQ(form->Button1->text(), QStringLiteral("点击现在安装"));
    EXPECT_EQ(form->Label3->text(), QStringLiteral("选择版本"));
    EXPECT_EQ(form->label1->text(), QStringLiteral("正在获取软件安装程序，请耐心等待......"));
    EXPECT_EQ(form->bfb->text(), "0.00%");
    EXPECT_TRUE(form->label1->alignment().testFlag(Qt::AlignHCenter));
    EXPECT_TRUE(form->bfb->alignment().testFlag(Qt::AlignHCenter));
    // label1 later shows the service's notice: as it stands, never as markup.
    for (const QLabel *label : {form->Label3, form->label1, form->bfb})
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    EXPECT_EQ(form->ComboBox1->count(), 0);
    EXPECT_EQ(form->ComboBox1->currentIndex(), -1);
    EXPECT_FALSE(form->ComboBox1->isEditable());
    EXPECT_EQ(form->loading->minimum(), 0);
    EXPECT_EQ(form->loading->maximum(), 100);
    EXPECT_EQ(form->loading->value(), 0);
    EXPECT_EQ(form->loading->orientation(), Qt::Horizontal);
    EXPECT_EQ(form->Image2ad->Picture().size(), QSize(965, 477));
}

TEST_F(LayoutTest, HandCursorOnBannerAndButton)
{
    EXPECT_EQ(form->Image2ad->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(form->Button1->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(form->ComboBox1->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(LayoutTest, FocusGoesToTheButtonThenTheVersionList)
{
    QList<QWidget *> chain;
    for (QWidget *w = form->nextInFocusChain(); w != form.get(); w = w->nextInFocusChain()) {
        if (w->focusPolicy() & Qt::TabFocus)
            chain.append(w);
    }
    const QList<QWidget *> expected{form->Button1, form->ComboBox1};
    EXPECT_EQ(chain, expected);
}

// A focused push button is pressed from the keyboard as a desktop user expects: by Space, Return
// or Enter. With no version chosen, the press asks for one.
TEST_F(LayoutTest, FocusedButtonIsPressedFromTheKeyboard)
{
    form->show();
    for (const int key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        SCOPED_TRACE(key);
        boxes.clear();
        form->Button1->setFocus();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QCoreApplication::sendEvent(form->Button1, &press);
        QCoreApplication::sendEvent(form->Button1, &release);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, QStringLiteral("请先选择要安装的软件版本"));
    }
}

TEST_F(LayoutTest, BannerPictureIsStretchedOverTheWholeControl)
{
    QImage picture(2, 1, QImage::Format_RGB32);
    picture.setPixel(0, 0, qRgb(255, 0, 0));
    picture.setPixel(1, 0, qRgb(0, 0, 255));
    form->Image2ad->SetPicture(picture);
    const QImage drawn = form->Image2ad->grab().toImage();
    ASSERT_EQ(drawn.size(), QSize(965, 477));
    for (const QPoint p : {QPoint(0, 0), QPoint(200, 476), QPoint(10, 240)})
        EXPECT_EQ(QColor(drawn.pixel(p)), QColor(Qt::red)) << p.x() << "," << p.y();
    for (const QPoint p : {QPoint(964, 0), QPoint(760, 476), QPoint(950, 240)})
        EXPECT_EQ(QColor(drawn.pixel(p)), QColor(Qt::blue)) << p.x() << "," << p.y();
}

TEST_F(LayoutTest, BannerClickIsReported)
{
    int clicks = 0;
    QObject::connect(form->Image2ad, &TImage::Click, [&] { ++clicks; });
    const QPointF inside(20, 20);
    QMouseEvent press(QEvent::MouseButtonPress, inside, form->Image2ad->mapToGlobal(inside), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, form->Image2ad->mapToGlobal(inside),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form->Image2ad, &press);
    QCoreApplication::sendEvent(form->Image2ad, &release);
    EXPECT_EQ(clicks, 1);
}

} // namespace
